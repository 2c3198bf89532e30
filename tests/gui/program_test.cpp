// skav-gui as an operator starts it.

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "core/settings/file_settings_store.h"
#include "support/temp_dir.h"

class ProgramTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  // A simulation opens the simulated adapter for this run only: the stored adapter stays.
  void simulation_leaves_the_stored_adapter_alone() {
    skav::test::TempDir dir;
    dir.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
    const std::filesystem::path settings = dir / "settings.reg";
    skav::settings::FileSettingsStore store(settings);
    QCOMPARE(store.number_write(nullptr, skav::settings::kNetIF, 3), 0);
    QCOMPARE(store.number_write(nullptr, skav::settings::kBarCode, 0), 0);

    QProcess gui;
    gui.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    gui.setProcessEnvironment(environment);
    gui.start(QStringLiteral(SKAV_GUI_BINARY),
              {QStringLiteral("--simulate=1"), QStringLiteral("--settings"),
               QString::fromStdString(settings.string()), QStringLiteral("-C"),
               QString::fromStdString(dir.path().string()), QStringLiteral("--screenshot"),
               QString::fromStdString((dir / "shot.png").string()),
               QStringLiteral("--screenshot-timeout"), QStringLiteral("60")});
    QVERIFY(gui.waitForFinished(90000));
    QVERIFY2(gui.exitCode() == 0, gui.readAll().constData());

    std::int32_t net_if = -1;
    QCOMPARE(store.number_read(nullptr, skav::settings::kNetIF, net_if), 0);
    QCOMPARE(net_if, 3);
    expect_programmed_one_board(store);
  }

 private:
  // The simulated board was programmed: the store's next address moved on.
  static void expect_programmed_one_board(skav::settings::FileSettingsStore& store) {
    skav::MacDigits::Digits next{};
    QCOMPARE(store.machwid_read(nullptr, next), 0);
    QCOMPARE(skav::MacDigits::text(next), std::string("001122334456"));
  }
};

QTEST_MAIN(ProgramTest)
#include "program_test.moc"
