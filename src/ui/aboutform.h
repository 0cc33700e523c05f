#pragma once

#include <QDialog>

class QLabel;

// The About dialog: picture, build stamp and name, and a label that closes it.
// Without a title bar; modeless; deletes itself when closed, so that opening it
// again loads it afresh in the language of that moment.
class AboutForm : public QDialog
{
    Q_OBJECT

public:
    explicit AboutForm(QWidget *parent = nullptr);

    // Label3: set every time the dialog is chosen from the menu.
    void setBuildStamp(const QString &stamp);

public Q_SLOTS:
    void Label1_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QLabel *m_label1 = nullptr; // close
    QLabel *m_label3 = nullptr; // build stamp
};
