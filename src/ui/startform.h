#pragma once

#include <QWidget>

// The splash window of the program's start: picture and name on the button
// highlight colour, without a border. Start-up shows it and later hides it.
class Startform : public QWidget
{
    Q_OBJECT

public:
    explicit Startform(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
