#include "Window_StopButton.h"

#include "ui_Window_StopButton_Base.h"

#include <QCloseEvent>
#include <QPushButton>

Window_StopButton::Window_StopButton(QWidget* parent)
    : Window_StopButton_Base(parent)
{
    connect(ui->pushButton_Stop, &QPushButton::clicked, this, &Window_StopButton::slotStopTest);
}

void Window_StopButton::slotStopTest()
{
    emit stopTest();
}

void Window_StopButton::closeEvent(QCloseEvent* event)
{
    event->ignore();
}
