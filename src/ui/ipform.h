#pragma once

#include <QDialog>
#include <QHostAddress>

// The dialog that shows the machine's own address, with a button that closes
// it. Without a title bar; modeless; its texts and the address are taken when
// it opens, and it deletes itself when closed.
class IPForm : public QDialog
{
    Q_OBJECT

public:
    explicit IPForm(const QHostAddress &address, QWidget *parent = nullptr);

public Q_SLOTS:
    void Command1_Click();

protected:
    void paintEvent(QPaintEvent *event) override;
};
