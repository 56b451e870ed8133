#include "forms/aboutdialog.h"
#include "ui_aboutdialog.h"

#include "app/mainwindow.h"

aboutDialog::aboutDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::aboutDialog)
{
    // Fixed before the form is built: the form's own resize request then has no effect.
    setFixedSize(400, 222);
    ui->setupUi(this);
}

aboutDialog::~aboutDialog()
{
    delete ui;
}

void MainWindow::clickedAbout()
{
    // Each opening gets a new dialog; it stays a (hidden) child of the window afterwards.
    auto *dialog = new aboutDialog(this);
    dialog->exec();
}
