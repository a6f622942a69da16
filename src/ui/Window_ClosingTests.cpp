#include "Window_ClosingTests.h"

#include "ui_Window_ClosingTests_Base.h"

#include <QCloseEvent>

Window_ClosingTests::Window_ClosingTests(QWidget* parent)
    : Window_ClosingTests_Base(parent)
{
    setFixedSize(size());
}

void Window_ClosingTests::setProgress(int percent)
{
    ui->progressBar->setValue(percent);
    ui->progressBar->repaint();
}

void Window_ClosingTests::setText(const QString& text)
{
    ui->textLabel_TestName->setText(text);
    ui->textLabel_TestName->repaint();
    repaint();
}

void Window_ClosingTests::closeEvent(QCloseEvent* event)
{
    event->ignore();
}
