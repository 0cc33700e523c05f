#pragma once

#include <QPushButton>

// A tall, narrow push button: its picture at the top, its text below it,
// broken at the blanks when the button is too narrow for one line.
class PictureButton : public QPushButton
{
    Q_OBJECT

public:
    explicit PictureButton(const QIcon &picture, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    static constexpr int Gap = 3; // pixels between picture and text
};
