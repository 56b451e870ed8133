#include "stationwindow/stationwindow.h"

#include "stationwindow/loggertile.h"
#include "stationwindow/sound.h"
#include "stationwindow/stationtext.h"

#include "record/personkey.h"
#include "record/trust.h"
#include "station/profile.h"
#include "station/report.h"
#include "station/signedrun.h"

#include "ui_stationwindow.h"

#include <QAccessible>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLocale>
#include <QSaveFile>
#include <QScrollBar>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace {

const QString kOperator = QStringLiteral("operator");
const QString kProfile = QStringLiteral("profile");
const QString kProfiles = QStringLiteral("profilesFolder");
const QString kShipments = QStringLiteral("shipmentsFolder");
const QString kRecord = QStringLiteral("record");
const QString kKey = QStringLiteral("key");
const QString kMuted = QStringLiteral("muted");
const QString kPersonKey = QStringLiteral("personKey");
const QString kTeam = QStringLiteral("team");

// An operator away from the bench this long signs in again before the next logger is written.
constexpr int kSignInIdleMs = 15 * 60 * 1000;

// The passphrase typed, in locked memory, and the field emptied.
SecretBytes takePassphrase(QLineEdit *edit)
{
    const QByteArray typed = edit->text().toUtf8();
    SecretBytes secret(typed.size());
    std::copy(typed.cbegin(), typed.cend(), secret.data());
    secret.resize(typed.size());
    edit->clear();
    return secret;
}

constexpr int kTileSpacing = 8;
// Owed lines and the like fill the status line; the last few stay.
constexpr int kStatusLines = 3;

QString documents(const QString &folder)
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
        + QStringLiteral("/Tempyra/") + folder;
}

QString clockText(qint64 ms)
{
    const qint64 s = ms / 1000;
    return s >= 3600 ? QStringLiteral("%1:%2:%3")
                           .arg(s / 3600)
                           .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                           .arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// A message of the station's, which starts in lower case in the middle of tempyra-cli's lines, as
// a sentence of its own.
QString sentence(QString text)
{
    // Only a word: a profile's key ("alarm.upper: ...") or an option keeps its form.
    const QString first = text.section(QLatin1Char(' '), 0, 0);
    if (!first.isEmpty()
        && std::all_of(first.cbegin(), first.cend(), [](QChar c) { return c.isLetter(); }))
        text[0] = text[0].toUpper();
    return text;
}

void tellAccessibility(QWidget *widget, const QString &name)
{
    if (widget->accessibleName() == name)
        return;
    widget->setAccessibleName(name);
    QAccessibleEvent event(widget, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

// A banner or a refusal: white on red, in any theme.
void paintAlarm(QWidget *widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor(0xb0, 0x1c, 0x1c));
    palette.setColor(QPalette::WindowText, Qt::white);
    widget->setPalette(palette);
}

} // namespace

StationWindow::StationWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::StationWindow)
    , m_settings(QStringLiteral("Tempyra"), QStringLiteral("tempyra-station"))
    , m_sound(new Sound(this))
{
    ui->setupUi(this);
    paintAlarm(ui->banner);
    ui->banner->hide();
    ui->refusal->hide();
    paintAlarm(ui->refusal);
    ui->refusal->setAutoFillBackground(true);
    ui->refusal->setMargin(8);
    m_grid = new QGridLayout(ui->tilesWidget);
    m_grid->setSpacing(kTileSpacing);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui->tilesArea->viewport()->installEventFilter(this);
    ui->pages->setCurrentWidget(ui->choicePage);

    ui->operatorEdit->setText(m_settings.value(kOperator).toString());
    ui->operatorEdit->setMaxLength(Choices::kLongestOperator);
    fillProfiles();
    showRecord();
    const bool muted = m_settings.value(kMuted, false).toBool();
    ui->soundBox->setChecked(!muted);
    m_sound->setMuted(muted);

    connect(ui->profileBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &StationWindow::profileChosen);
    connect(ui->openProfileButton, &QPushButton::clicked, this, &StationWindow::openProfile);
    connect(ui->openListButton, &QPushButton::clicked, this, &StationWindow::openList);
    connect(ui->recordButton, &QPushButton::clicked, this, &StationWindow::chooseRecord);
    connect(ui->profilesFolderButton, &QPushButton::clicked, this,
            [this] { chooseFolder(kProfiles, QStringLiteral("Profiles folder")); });
    connect(ui->shipmentsFolderButton, &QPushButton::clicked, this,
            [this] { chooseFolder(kShipments, QStringLiteral("Shipments folder")); });
    // A barcode scanner types the number and ends with Enter.
    connect(ui->shipmentEdit, &QLineEdit::returnPressed, this, &StationWindow::startFromForm);
    connect(ui->shipmentEdit, &QLineEdit::textEdited, this, [this] {
        m_listPath.clear();
        ui->noListBox->setChecked(false);
        ui->listInfo->clear();
    });
    connect(ui->noListBox, &QCheckBox::toggled, this, [this](bool none) {
        ui->shipmentEdit->setEnabled(!none);
        ui->listInfo->setText(none ? QStringLiteral("Every logger plugged in is written, until "
                                                    "End shipment.")
                                   : QString());
    });
    connect(ui->startButton, &QPushButton::clicked, this, &StationWindow::startFromForm);
    connect(ui->passphraseEdit, &QLineEdit::returnPressed, this, &StationWindow::startFromForm);
    ui->passphraseEdit->setMinimumWidth(
        ui->passphraseEdit->fontMetrics().horizontalAdvance(ui->passphraseEdit->placeholderText())
        + ui->passphraseEdit->fontMetrics().averageCharWidth() * 4);
    connect(ui->personKeyButton, &QPushButton::clicked, this, &StationWindow::choosePersonKey);
    connect(ui->teamButton, &QPushButton::clicked, this, &StationWindow::chooseTeam);
    connect(ui->signInAgainEdit, &QLineEdit::returnPressed, this, &StationWindow::signInAgain);
    ui->signInAgainBox->hide();
    // Asking for the operator: amber and dark text, in any theme.
    QPalette ask = ui->signInAgainBox->palette();
    ask.setColor(QPalette::Window, QColor(0xf5, 0xc0, 0x18));
    ask.setColor(QPalette::WindowText, Qt::black);
    ui->signInAgainBox->setPalette(ask);
    ui->signInAgainBox->setAutoFillBackground(true);
    showPeople();
    m_idle.setSingleShot(true);
    m_idle.setInterval(kSignInIdleMs);
    connect(&m_idle, &QTimer::timeout, this, &StationWindow::idle);
    // A key press anywhere in the window is the operator still there.
    qApp->installEventFilter(this);
    connect(ui->soundBox, &QCheckBox::toggled, this, [this](bool on) {
        m_sound->setMuted(!on);
        m_settings.setValue(kMuted, !on);
    });
    connect(ui->endButton, &QPushButton::clicked, this, &StationWindow::endShipment);
    connect(ui->reportButton, &QPushButton::clicked, this, &StationWindow::writeReport);
    connect(ui->nextButton, &QPushButton::clicked, this, &StationWindow::nextShipment);
    m_tick.setInterval(1000);
    connect(&m_tick, &QTimer::timeout, this, &StationWindow::tick);
    (ui->operatorEdit->text().isEmpty() ? ui->operatorEdit : ui->shipmentEdit)->setFocus();
}

StationWindow::~StationWindow() = default;

void StationWindow::fillProfiles()
{
    const QString folder
        = m_settings.value(kProfiles, documents(QStringLiteral("profiles"))).toString();
    const QString chosen = m_settings.value(kProfile).toString();
    const QSignalBlocker blocker(ui->profileBox);
    ui->profileBox->clear();
    const QFileInfoList files
        = QDir(folder).entryInfoList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files)
        ui->profileBox->addItem(file.completeBaseName(), file.absoluteFilePath());
    if (!chosen.isEmpty() && ui->profileBox->findData(chosen) < 0)
        ui->profileBox->addItem(QDir::toNativeSeparators(chosen), chosen);
    ui->profileBox->setCurrentIndex(qMax(0, ui->profileBox->findData(chosen)));
    ui->profilesFolderButton->setToolTip(QDir::toNativeSeparators(folder));
    profileChosen();
}

void StationWindow::profileChosen()
{
    const QString path = ui->profileBox->currentData().toString();
    if (path.isEmpty()) {
        ui->profileSentence->setText(
            QStringLiteral("No profile in the profiles folder: open one."));
        return;
    }
    QString error;
    QJsonObject held;
    const std::optional<QJsonObject> profile = Profile::load(path, &error, &held);
    const std::optional<LoggerConfig> config
        = profile ? Profile::toConfig(*profile, &error, held) : std::nullopt;
    ui->profileSentence->setText(config ? StationText::profileSentence(*config) : error);
    tellAccessibility(ui->profileSentence, ui->profileSentence->text());
}

void StationWindow::openProfile()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open a profile"), ui->profilesFolderButton->toolTip(),
        QStringLiteral("Profiles (*.json);;All files (*)"));
    if (path.isEmpty())
        return;
    m_settings.setValue(kProfile, path);
    fillProfiles();
}

void StationWindow::openList()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Open a shipment's list"),
        m_settings.value(kShipments, documents(QStringLiteral("shipments"))).toString(),
        QStringLiteral("Lists (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    m_listPath = path;
    ui->noListBox->setChecked(false);
    ui->shipmentEdit->setText(QFileInfo(path).completeBaseName());
    ui->listInfo->setText(QDir::toNativeSeparators(path));
    ui->startButton->setFocus();
}

void StationWindow::chooseRecord()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("The audit record"), ui->recordPath->text(),
        QStringLiteral("Audit records (*.jsonl);;All files (*)"), nullptr,
        QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return;
    m_settings.setValue(kRecord, path);
    showRecord();
}

void StationWindow::chooseFolder(const QString &key, const QString &title)
{
    const QString folder = QFileDialog::getExistingDirectory(
        this, title, m_settings.value(key, documents(QString())).toString());
    if (folder.isEmpty())
        return;
    m_settings.setValue(key, folder);
    fillProfiles();
}

void StationWindow::showRecord()
{
    ui->recordPath->setText(
        QDir::toNativeSeparators(m_settings.value(kRecord, Audit::defaultPath()).toString()));
}

std::optional<Choices::Given> StationWindow::formChoices(QString *error) const
{
    Choices::Given given = m_numbers;
    given.profile = ui->profileBox->currentData().toString();
    if (given.profile.isEmpty()) {
        *error = QStringLiteral("No profile: put one in the profiles folder, or open one.");
        return std::nullopt;
    }
    given.operatorName = ui->operatorEdit->text();
    if (m_settings.contains(kRecord))
        given.log = m_settings.value(kRecord).toString();
    given.key = m_settings.value(kKey).toString();
    if (ui->noListBox->isChecked())
        return given;
    const QString number = ui->shipmentEdit->text().trimmed();
    if (!m_listPath.isEmpty()) {
        given.expect = m_listPath;
    } else if (number.isEmpty()) {
        *error = QStringLiteral("No shipment: type or scan its number, open its list, or choose "
                                "No list.");
        return std::nullopt;
    } else if (number.contains(QLatin1Char('/')) || number.contains(QLatin1Char('\\'))) {
        *error = QStringLiteral("A shipment number names no folder: %1").arg(number);
        return std::nullopt;
    } else {
        given.expect
            = QDir(m_settings.value(kShipments, documents(QStringLiteral("shipments"))).toString())
                  .filePath(number + QStringLiteral(".txt"));
    }
    return given;
}

void StationWindow::startFromForm()
{
    if (m_station)
        return;
    QString error;
    const std::optional<Choices::Given> given = formChoices(&error);
    if (!given || !run(*given, &error))
        refuse(error);
}

void StationWindow::refuse(const QString &error)
{
    ui->refusal->setText(sentence(error));
    ui->refusal->show();
    tellAccessibility(ui->refusal, ui->refusal->text());
    // The field the refusal is about takes the focus, to be put right.
    QWidget *field = ui->profileBox;
    if (error.startsWith(QLatin1String("--operator")))
        field = ui->operatorEdit;
    else if (error.startsWith(QLatin1String("--expect"))
             || error.startsWith(QLatin1String("No "
                                               "ship"))
             || error.startsWith(QLatin1String("A shipment")))
        field = ui->shipmentEdit;
    else if (error.contains(QLatin1String("audit record"))
             || error.startsWith(QLatin1String("--log")))
        field = ui->recordButton;
    field->setFocus();
    m_sound->play(Sound::Problem);
}

bool StationWindow::startWith(const Choices::Given &given, QString *error, const QString &signAs,
                              std::optional<SecretBytes> passphrase, const QString &team)
{
    if (!signAs.isEmpty())
        m_settings.setValue(kPersonKey, QFileInfo(signAs).absoluteFilePath());
    if (!team.isEmpty())
        m_settings.setValue(kTeam, QFileInfo(team).absoluteFilePath());
    m_givenPassphrase.reset();
    if (passphrase)
        m_givenPassphrase.emplace(std::move(*passphrase));
    showPeople();
    m_numbers.retries = given.retries;
    m_numbers.settle = given.settle;
    m_numbers.replyTimeout = given.replyTimeout;
    // The form shows what was given, so that a refusal can be put right there.
    if (given.operatorName)
        ui->operatorEdit->setText(*given.operatorName);
    m_settings.setValue(kProfile, QFileInfo(given.profile).absoluteFilePath());
    fillProfiles();
    if (!given.expect.isEmpty()) {
        m_listPath = given.expect;
        ui->shipmentEdit->setText(QFileInfo(given.expect).completeBaseName());
        ui->listInfo->setText(QDir::toNativeSeparators(given.expect));
    } else {
        ui->noListBox->setChecked(true);
    }
    if (run(given, error))
        return true;
    refuse(*error);
    return false;
}

bool StationWindow::run(const Choices::Given &given, QString *error)
{
    const std::optional<WriteOptions> options = Choices::writeOptions(given, error);
    if (!options)
        return false;
    m_options = *options;
    if (!signIn(given, error))
        return false;
    if (given.operatorName)
        m_settings.setValue(kOperator, m_options.operatorName);
    m_settings.setValue(kProfile, QFileInfo(given.profile).absoluteFilePath());
    ui->refusal->hide();

    m_shipment = given.expect.isEmpty() ? QString() : QFileInfo(given.expect).completeBaseName();
    m_listed = m_options.expected.toStringList();
    for (const QString &logger : qAsConst(m_listed))
        tileFor(logger);
    m_station = new Station(m_options, this);
    // Whatever the station does with a logger is the operator at work.
    connect(m_station, &Station::loggerSeen, this, [this] {
        if (!ui->signInAgainBox->isVisible() && !m_signedIn.isEmpty())
            m_idle.start();
    });
    connect(m_station, &Station::loggerSeen, this, [this](const QString &port) {
        if (!m_station->recordError().isEmpty())
            addStatus(QStringLiteral("Not written until the audit record can be written: ") + port);
    });
    connect(
        m_station, &Station::loggerIdentified, this,
        [this](const QString &port, const QString &id) {
            m_portLogger.insert(port, id);
            // Attempts that ended on this port before the logger gave its identifier were its
            // own: the station counts them with it, and their tile goes.
            if (LoggerTile *before = m_tiles.take(port + QStringLiteral(" (not identified)"))) {
                m_order.removeOne(before);
                m_unrecorded.remove(before);
                delete before;
                layOutTiles();
            }
            const bool refused
                = m_station->session().expecting() && !m_station->session().isExpected(id);
            if (!refused)
                tileFor(id)->setView({StationText::State::Writing, QStringLiteral("on ") + port});
        });
    connect(m_station, &Station::loggerChecking, this, [this](const QString &port) {
        if (LoggerTile *tile = m_tiles.value(m_portLogger.value(port)))
            tile->setView({StationText::State::Checking, QStringLiteral("reading it back")});
    });
    connect(m_station, &Station::attemptEnded, this, &StationWindow::attemptEnded);
    connect(m_station, &Station::loggerGone, this,
            [this](const QString &port) { m_portLogger.remove(port); });
    connect(m_station, &Station::recordFailing, this, [this](const QString &problem, int owed) {
        showBanner(problem
                   + QStringLiteral("\nNo further logger is written until the audit record can be "
                                    "written again; %1 owed to it, kept until then.")
                         .arg(counted(owed, "line")));
        m_sound->play(Sound::Problem);
    });
    connect(m_station, &Station::recordRestored, this, &StationWindow::recordRestored);
    connect(m_station, &Station::recordChangedUnder, this, [this](const QString &problem) {
        showBanner(problem
                   + QStringLiteral("\nNothing more is appended to it in this run and no further "
                                    "logger is written; \"tempyra-cli audit verify\" shows what "
                                    "changed."));
        m_sound->play(Sound::Problem);
    });
    connect(m_station, &Station::waitingForRecordStarted, this, [this](int owed) {
        showBanner(
            QStringLiteral("%1; waiting for the audit record to take the %2 owed to it "
                           "(%3). Closing the window keeps %4 in a file.")
                .arg(m_station->session().expecting() && m_station->session().allExpectedVerified()
                         ? QStringLiteral("Every listed logger is verified")
                         : QStringLiteral("Every logger is done"),
                     owed == 1 ? QStringLiteral("line") : counted(owed, "line"),
                     m_station->recordError(), QLatin1String(owed == 1 ? "it" : "them")));
    });
    connect(m_station, &Station::everyExpectedVerified, this,
            [this] { m_sound->play(Sound::AllVerified); });
    connect(m_station, &Station::finished, this, &StationWindow::finished);

    QStringList info;
    info.append(m_shipment.isEmpty() ? QStringLiteral("No list: every logger plugged in is written")
                                     : QStringLiteral("Shipment %1").arg(m_shipment));
    info.append(StationText::profileSentence(m_options.config));
    info.append(QStringLiteral("operator %1%2")
                    .arg(m_options.operatorName,
                         m_options.person ? QStringLiteral(" (signed in)") : QString()));
    ui->shipmentInfo->setText(info.join(QStringLiteral("  ·  ")));
    m_status.clear();
    if (!m_options.key)
        addStatus(Choices::unsignedWarning() + QLatin1Char('.'));
    if (m_options.record.newlineMissing)
        addStatus(QStringLiteral("The last line of the audit record lacks its newline; the first "
                                 "line of this run completes it."));
    addStatus(QStringLiteral("Plug the loggers in."));
    ui->doneBox->hide();
    ui->banner->hide();
    ui->reportButton->setEnabled(false);
    ui->nextButton->setEnabled(false);
    ui->endButton->setEnabled(true);
    m_finished = false;
    m_ends = 0;
    m_started = QDateTime::currentDateTimeUtc();
    m_elapsed.start();
    m_tick.start();
    tick();
    showCounter();
    ui->pages->setCurrentWidget(ui->runPage);
    layOutTiles();
    ui->endButton->setFocus();
    m_station->provision({});
    return true;
}

LoggerTile *StationWindow::tileFor(const QString &logger)
{
    if (LoggerTile *tile = m_tiles.value(logger))
        return tile;
    auto *tile = new LoggerTile(logger, ui->tilesWidget);
    m_tiles.insert(logger, tile);
    m_order.append(tile);
    const int columns = qMax(1, m_columns);
    const int place = m_order.size() - 1;
    m_grid->addWidget(tile, place / columns, place % columns);
    // Tab walks the tiles in their order, from the buttons below them.
    if (place > 0)
        setTabOrder(m_order.at(place - 1), tile);
    return tile;
}

bool StationWindow::event(QEvent *event)
{
    // The sound output is opened once the first frame is on the screen.
    if (event->type() == QEvent::Paint && !m_painted) {
        m_painted = true;
        QTimer::singleShot(0, m_sound, &Sound::prepare);
    }
    return QMainWindow::event(event);
}

bool StationWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && m_idle.isActive())
        m_idle.start();
    if (watched == ui->tilesArea->viewport() && event->type() == QEvent::Resize)
        layOutTiles();
    return QMainWindow::eventFilter(watched, event);
}

void StationWindow::choosePersonKey()
{
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("The operator's key"),
        QFileInfo(m_settings.value(kPersonKey, PersonKey::defaultPath()).toString()).absolutePath(),
        QStringLiteral("Person keys (*.key);;All files (*)"));
    if (path.isEmpty())
        return;
    m_settings.setValue(kPersonKey, path);
    showPeople();
    ui->passphraseEdit->setFocus();
}

void StationWindow::chooseTeam()
{
    const QString path
        = QFileDialog::getOpenFileName(this, QStringLiteral("The team file of quality assurance"),
                                       QFileInfo(m_settings.value(kTeam).toString()).absolutePath(),
                                       QStringLiteral("Team files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    m_settings.setValue(kTeam, path);
    showPeople();
}

void StationWindow::showPeople()
{
    const QString key = m_settings.value(kPersonKey).toString();
    ui->personKeyPath->setText(key.isEmpty()
                                   ? QStringLiteral("no key: the name above is recorded as typed")
                                   : QDir::toNativeSeparators(key));
    ui->passphraseEdit->setEnabled(!key.isEmpty());
    const QString team = m_settings.value(kTeam).toString();
    ui->teamPath->setText(team.isEmpty() ? QStringLiteral("none: any profile is written")
                                         : QStringLiteral("%1: only profiles its approvers "
                                                          "approved are written")
                                               .arg(QDir::toNativeSeparators(team)));
}

bool StationWindow::signIn(const Choices::Given &given, QString *error)
{
    SignedRun run;
    run.profilePath = given.profile;
    run.overridden = !given.settings.isEmpty();
    const QString team = m_settings.value(kTeam).toString();
    if (!team.isEmpty()) {
        run.requireApproved = true;
        if (!(run.trusted = Trust::read({team}, error)))
            return false;
    }
    const QString key = m_settings.value(kPersonKey).toString();
    if (!key.isEmpty()) {
        if (!m_givenPassphrase && ui->passphraseEdit->text().isEmpty()) {
            *error = QStringLiteral("Type the passphrase of the key %1 to sign in")
                         .arg(QDir::toNativeSeparators(key));
            ui->passphraseEdit->setFocus();
            return false;
        }
        const SecretBytes secret = m_givenPassphrase ? std::move(*m_givenPassphrase)
                                                     : takePassphrase(ui->passphraseEdit);
        m_givenPassphrase.reset();
        std::optional<PersonKey> opened = PersonKey::unlock(key, secret, error);
        if (!opened)
            return false;
        // The name is the key's: the form shows it.
        if (!given.operatorName || given.operatorName->isEmpty())
            m_options.operatorName.clear();
        run.person = std::make_shared<const PersonKey>(std::move(*opened));
    }
    if (!prepareSignedRun(m_options, run, error))
        return false;
    m_signedIn = key;
    if (m_options.person) {
        ui->operatorEdit->setText(m_options.person->name());
        m_idle.start();
    }
    return true;
}

void StationWindow::idle()
{
    if (!m_station || m_finished || !m_options.person)
        return;
    m_station->hold(true);
    const int seconds = m_idle.interval() / 1000;
    ui->signInAgainLabel->setText(
        QStringLiteral("%1: %2 without a logger or a key press. Sign in again; no logger is "
                       "written until then.")
            .arg(m_options.person->name(),
                 seconds >= 60 ? QStringLiteral("%1 minutes").arg(seconds / 60)
                               : QStringLiteral("%1 seconds").arg(seconds)));
    ui->signInAgainBox->show();
    tellAccessibility(ui->signInAgainLabel, ui->signInAgainLabel->text());
    ui->signInAgainEdit->setFocus();
}

void StationWindow::signInAgain()
{
    QString error;
    const SecretBytes secret = takePassphrase(ui->signInAgainEdit);
    if (!PersonKey::unlock(m_signedIn, secret, &error)) {
        ui->signInAgainLabel->setText(QStringLiteral("%1. Try again.").arg(sentence(error)));
        tellAccessibility(ui->signInAgainLabel, ui->signInAgainLabel->text());
        m_sound->play(Sound::Problem);
        return;
    }
    ui->signInAgainBox->hide();
    m_station->hold(false);
    m_idle.start();
    ui->endButton->setFocus();
}

void StationWindow::layOutTiles()
{
    // Room for the scroll bar, which comes once the tiles are more than the window holds.
    const QScrollBar *bar = ui->tilesArea->verticalScrollBar();
    const int width
        = ui->tilesArea->viewport()->width() - (bar->isVisible() ? 0 : bar->sizeHint().width());
    const int columns
        = qMax(1, (width + kTileSpacing) / (LoggerTile::tileSize(font()).width() + kTileSpacing));
    if (columns == m_columns)
        return;
    m_columns = columns;
    for (LoggerTile *tile : qAsConst(m_order))
        m_grid->removeWidget(tile);
    for (int i = 0; i < m_order.size(); ++i)
        m_grid->addWidget(m_order.at(i), i / columns, i % columns);
}

void StationWindow::showCounter()
{
    QString text;
    if (m_station && m_station->session().expecting()) {
        const Session &session = m_station->session();
        text = QStringLiteral("%1 of %2 verified")
                   .arg(m_listed.size() - session.missingCount())
                   .arg(m_listed.size());
    } else {
        const int verified = int(std::count_if(m_order.cbegin(), m_order.cend(), [](auto *tile) {
            return tile->view().state == StationText::State::Verified;
        }));
        text = QStringLiteral("%1 verified").arg(verified);
    }
    ui->counter->setText(text);
    tellAccessibility(ui->counter, text);
}

void StationWindow::tick()
{
    const QString text = clockText(m_elapsed.elapsed());
    ui->elapsed->setText(text);
    ui->elapsed->setAccessibleName(QStringLiteral("%1 since the start").arg(text));
}

void StationWindow::showBanner(const QString &text)
{
    ui->banner->setText(sentence(text));
    ui->banner->show();
    tellAccessibility(ui->banner, ui->banner->text());
}

void StationWindow::addStatus(const QString &text)
{
    m_status.append(sentence(text));
    while (m_status.size() > kStatusLines)
        m_status.removeFirst();
    ui->status->setText(m_status.join(QLatin1Char('\n')));
}

void StationWindow::attemptEnded(const Attempt &attempt)
{
    LoggerTile *tile = tileFor(attempt.logger);
    const StationText::View view = StationText::attemptView(attempt, m_options.retries);
    tile->setView(view);
    if (attempt.recorded)
        m_unrecorded.remove(tile);
    else
        m_unrecorded.insert(tile, attempt);
    if (!attempt.again)
        m_portLogger.remove(attempt.port);
    if (view.state == StationText::State::Failed || view.state == StationText::State::Mismatch
        || view.state == StationText::State::Refused)
        m_sound->play(Sound::Problem);
    showCounter();
}

void StationWindow::recordRestored(int count)
{
    // Every line owed went in with that append.
    for (auto it = m_unrecorded.begin(); it != m_unrecorded.end(); ++it) {
        it.value().recorded = true;
        it.key()->setView(StationText::attemptView(it.value(), m_options.retries));
    }
    m_unrecorded.clear();
    ui->banner->hide();
    addStatus(QStringLiteral("The audit record can be written again: %1 appended.")
                  .arg(counted(count, "owed line")));
    showCounter();
}

void StationWindow::finished()
{
    m_finished = true;
    m_idle.stop();
    ui->signInAgainBox->hide();
    m_tick.stop();
    tick();
    showCounter();
    const Session &session = m_station->session();
    const bool allVerified = session.expecting() && session.missingCount() == 0
        && m_station->owed().isEmpty() && !m_station->recordChanged();
    ui->doneLabel->setText(allVerified
                               ? QStringLiteral("\u2714 Every listed logger is verified")
                               : QStringLiteral("Shipment ended: %1").arg(ui->counter->text()));
    // A shipment short of its list in red: light on a dark theme's ground, dark on a light one.
    QPalette palette = this->palette();
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    palette.setColor(QPalette::WindowText,
                     allVerified ? palette.color(QPalette::WindowText)
                                 : (dark ? QColor(0xff, 0x7b, 0x72) : QColor(0xb0, 0x1c, 0x1c)));
    ui->doneLabel->setPalette(palette);

    Audit::Head head = m_station->head();
    QString error;
    if (m_station->recordChanged())
        head = {};
    else if (head.seq == 0)
        head = Audit::currentHead(m_options.auditPath, &error).value_or(Audit::Head());
    if (head.seq > 0) {
        ui->headShort->setText(QStringLiteral("%1:%2").arg(head.seq).arg(
            QString::fromLatin1(head.hash.left(Audit::kShortestHeadHash))));
        ui->headFull->setText(head.text());
        ui->headCaption->setText(QStringLiteral("Record head, to be noted:"));
    } else {
        ui->headShort->clear();
        ui->headFull->clear();
        ui->headCaption->setText(m_station->recordChanged()
                                     ? QStringLiteral("No head: the record was changed under "
                                                      "this station.")
                                     : QStringLiteral("No head: the record holds no line."));
    }
    ui->headShort->setVisible(head.seq > 0);
    ui->headFull->setVisible(head.seq > 0);
    tellAccessibility(ui->doneLabel, ui->doneLabel->text());
    ui->doneBox->show();

    const Audit::Owed &kept = m_station->kept();
    const QString record = QDir::toNativeSeparators(m_options.auditPath);
    if (!m_station->owed().isEmpty()) {
        showBanner(
            kept.path.isEmpty()
                ? QStringLiteral("The lines owed to the audit record could not be kept in a file "
                                 "either (%1); they are lost to it.")
                      .arg(kept.error)
                : QStringLiteral("The lines owed to the audit record are kept in %1; "
                                 "\"tempyra-cli audit append-owed %2 %1\" appends them once the "
                                 "record can be written.")
                      .arg(QDir::toNativeSeparators(kept.path), record));
    }
    ui->endButton->setEnabled(false);
    ui->reportButton->setEnabled(true);
    ui->nextButton->setEnabled(true);
    ui->nextButton->setFocus();
    emit runFinished();
    if (m_closeWhenDone)
        QTimer::singleShot(0, this, &QWidget::close);
}

void StationWindow::endShipment()
{
    if (!m_station || m_finished)
        return;
    // As Ctrl-C in tempyra-cli: the first waits for the loggers in progress, the second (or one
    // while the station waits for its record) ends at once, each attempt recorded as it stands.
    if (++m_ends > 1 || m_station->waitingForRecord()) {
        m_station->abort();
        return;
    }
    const int busy = m_station->inProgress();
    m_station->stop();
    if (busy > 0 && !m_finished)
        addStatus(QStringLiteral("Ending once the %1 in progress %2 done; %3 again ends at once.")
                      .arg(counted(busy, "logger"), QLatin1String(busy == 1 ? "is" : "are"),
                           QLatin1String(m_closeWhenDone ? "closing" : "End shipment")));
}

void StationWindow::closeEvent(QCloseEvent *event)
{
    if (!m_station || m_finished) {
        event->accept();
        return;
    }
    event->ignore();
    m_closeWhenDone = true;
    endShipment();
}

void StationWindow::writeReport()
{
    Report::Options options;
    options.period.since = m_started;
    options.expected = m_listed;
    QString error;
    QByteArray bytes;
    const std::optional<Audit::Verification> check
        = Report::check(m_options.auditPath, options, &bytes, &error);
    const QString name = (m_shipment.isEmpty() ? QStringLiteral("station") : m_shipment)
        + QLocale::c().toString(m_started.toLocalTime(), QStringLiteral("-yyyyMMdd-HHmm"))
        + QStringLiteral(".html");
    const QString path = QFileInfo(m_options.auditPath).absoluteDir().filePath(name);
    QSaveFile file(path);
    if (check
        && (!file.open(QIODevice::WriteOnly)
            || !Report::write(file, bytes, *check, m_options.auditPath, options,
                              QDateTime::currentDateTime())
            || !file.commit()))
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    if (!error.isEmpty() || !check) {
        addStatus(QStringLiteral("No report: ") + error);
        return;
    }
    addStatus(QStringLiteral("Report: %1").arg(QDir::toNativeSeparators(path)));
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void StationWindow::nextShipment()
{
    if (!m_finished)
        return;
    m_station->deleteLater();
    m_station = nullptr;
    qDeleteAll(m_order);
    m_order.clear();
    m_tiles.clear();
    m_portLogger.clear();
    m_unrecorded.clear();
    m_listed.clear();
    m_listPath.clear();
    m_columns = 0;
    ui->banner->hide();
    ui->shipmentEdit->clear();
    ui->listInfo->clear();
    ui->pages->setCurrentWidget(ui->choicePage);
    ui->shipmentEdit->setFocus();
}
