#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "clock/alarmlimits.h"

#include <QRegExpValidator>
#include <QStandardItemModel>

namespace {
// With zero hours the ten shortest intervals, "01" to "10" minutes, are not offered.
constexpr int kShortIntervals = 10;
} // namespace

void MainWindow::intervalCheck()
{
    auto *model = qobject_cast<QStandardItemModel *>(ui->logMinutes->model());
    const bool enabled = ui->logHours->currentIndex() != 0;
    for (int row = 0; row < kShortIntervals; ++row)
        model->item(row)->setEnabled(enabled);
}

void MainWindow::installAlarmValidator()
{
    auto *validator = new QRegExpValidator(AlarmLimits::pattern(), this);
    ui->alarmLower->setValidator(validator);
    ui->alarmUpper->setValidator(validator);
}
