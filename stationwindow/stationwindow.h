#pragma once

#include "station/choices.h"
#include "station/station.h"

#include "record/secret.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QSettings>
#include <QTimer>

#include <memory>

namespace Ui {
class StationWindow;
}
class LoggerTile;
class QGridLayout;
class Sound;

/// The station at the packing bench: three choices on one screen (operator, profile, shipment),
/// then one tile per listed logger, and one for each logger plugged in that is not on the list,
/// each telling where its logger stands, with the count of those verified above them. It drives
/// the same Station as tempyra-cli and holds no scheduling of its own.
class StationWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit StationWindow(QWidget *parent = nullptr);
    ~StationWindow() override;

    /// Starts a run with choices given outside the form (the command line): false, with the
    /// refusal shown on the choice screen and in error, when one is refused. signAs, with its
    /// passphrase, signs the operator in; a team file requires approved profiles.
    bool startWith(const Choices::Given &given, QString *error, const QString &signAs = {},
                   std::optional<SecretBytes> passphrase = std::nullopt, const QString &team = {});

    /// How long the station goes without a logger or a key press before the operator signed in
    /// has to sign in again, before the next logger is written: 15 minutes.
    void setSignInIdle(int ms) { m_idle.setInterval(ms); }

    /// The run, while there is one.
    const Station *station() const { return m_station; }
    LoggerTile *tile(const QString &logger) const { return m_tiles.value(logger); }
    QList<LoggerTile *> tiles() const { return m_order; }
    Sound *sound() const { return m_sound; }

signals:
    /// The run's station has finished, its head shown.
    void runFinished();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fillProfiles();
    void profileChosen();
    void openProfile();
    void openList();
    void chooseRecord();
    void chooseFolder(const QString &key, const QString &title);
    void showRecord();
    /// The choices of the form, the shipment's list found from the number typed.
    std::optional<Choices::Given> formChoices(QString *error) const;
    void startFromForm();
    void choosePersonKey();
    void chooseTeam();
    void showPeople();
    /// The operator's key opened and the profile's approval checked, for the run's options.
    bool signIn(const Choices::Given &given, QString *error);
    /// The operator went quiet: no logger is written until they sign in again.
    void idle();
    void signInAgain();
    void refuse(const QString &error);
    bool run(const Choices::Given &given, QString *error);

    LoggerTile *tileFor(const QString &logger);
    void layOutTiles();
    void showCounter();
    void tick();
    void showBanner(const QString &text);
    void addStatus(const QString &text);
    void attemptEnded(const Attempt &attempt);
    void recordRestored(int count);
    void finished();
    void endShipment();
    void writeReport();
    void nextShipment();

    std::unique_ptr<Ui::StationWindow> ui;
    QSettings m_settings;
    Sound *m_sound;
    QGridLayout *m_grid;
    QString m_listPath; // a list opened as a file
    // Command-line numbers (retries, settle, reply timeout), kept for the runs that follow.
    Choices::Given m_numbers;

    std::optional<SecretBytes> m_givenPassphrase; // from the command line
    QTimer m_idle; // until the operator signs in again
    QString m_signedIn; // the key the operator signed in with

    Station *m_station = nullptr;
    WriteOptions m_options;
    QString m_shipment;
    QStringList m_listed;
    QHash<QString, LoggerTile *> m_tiles; // by logger
    QList<LoggerTile *> m_order;
    QHash<QString, QString> m_portLogger; // the logger being written on each port
    QHash<LoggerTile *, Attempt> m_unrecorded; // the attempts whose lines the record owes
    QDateTime m_started;
    QElapsedTimer m_elapsed;
    QTimer m_tick;
    QStringList m_status;
    int m_ends = 0;
    bool m_finished = false;
    bool m_closeWhenDone = false;
    int m_columns = 0;
    bool m_painted = false;
};
