// skav-gui as an operator starts it.

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <string>
#include <vector>

#include "gui_test_main.h"
#include "core/settings/file_settings_store.h"
#include "support/rig.h"
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

    run_gui(dir, {QStringLiteral("--simulate=1")});

    std::int32_t net_if = -1;
    QCOMPARE(store.number_read(nullptr, skav::settings::kNetIF, net_if), 0);
    QCOMPARE(net_if, 3);
    expect_programmed_one_board(store);
  }

  // Two simulated ports, the fault on the second only: each port programs its own board.
  void two_simulated_ports_with_a_fault_on_one() {
    skav::test::TempDir dir;
    dir.copy_from(std::filesystem::path(SKAV_SOURCE_DIR) / "examples");
    skav::settings::FileSettingsStore store(dir / "settings.reg");
    QCOMPARE(store.number_write(nullptr, skav::settings::kBarCode, 0), 0);

    run_gui(dir, {QStringLiteral("--simulate=1"), QStringLiteral("--ports"), QStringLiteral("2"),
                  QStringLiteral("--simulate-corrupt-read"), QStringLiteral("4"),
                  QStringLiteral("--simulate-fault-port"), QStringLiteral("1")});

    std::vector<skav::test::RecordLine> records = skav::test::read_records(dir / skav::station::kRecordsFile);
    QCOMPARE(records.size(), std::size_t{2});
    std::map<std::string, std::string> verdicts;
    for (const skav::test::RecordLine& record : records) verdicts[record.adapter] = record.verdict;
    QCOMPARE(verdicts["sim0"], std::string("pass"));
    QCOMPARE(verdicts["sim1"], std::string("fail"));
  }

  // --help and --version answer without a display: no platform named, no X or Wayland server.
  void help_and_version_need_no_display_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("expected");
    QTest::newRow("help") << "--help" << "--simulate";
    QTest::newRow("version") << "--version" << "skav-gui 1.0";
  }
  void help_and_version_need_no_display() {
    QFETCH(QString, option);
    QFETCH(QString, expected);
    QProcess gui;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
      environment.remove(QString::fromLatin1(name));
    gui.setProcessEnvironment(environment);
    gui.start(QStringLiteral(SKAV_GUI_BINARY), {option});
    QVERIFY(gui.waitForFinished(30000));
    const QString out = QString::fromLocal8Bit(gui.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(gui.readAllStandardError());
    QVERIFY2(gui.exitStatus() == QProcess::NormalExit && gui.exitCode() == 0, qPrintable(err));
    QVERIFY2(out.contains(expected), qPrintable(out));
  }

 private:
  // skav-gui on the settings and working folder of `dir`, grabbing its window into shot.png
  // once its boards are done; it must end with 0.
  static void run_gui(skav::test::TempDir& dir, QStringList arguments) {
    QProcess gui;
    gui.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    gui.setProcessEnvironment(environment);
    arguments << QStringLiteral("--settings") << QString::fromStdString((dir / "settings.reg").string())
              << QStringLiteral("-C") << QString::fromStdString(dir.path().string())
              << QStringLiteral("--screenshot") << QString::fromStdString((dir / "shot.png").string())
              << QStringLiteral("--screenshot-timeout") << QStringLiteral("60");
    gui.start(QStringLiteral(SKAV_GUI_BINARY), arguments);
    QVERIFY(gui.waitForFinished(90000));
    QVERIFY2(gui.exitCode() == 0, gui.readAll().constData());
  }

  // The simulated board was programmed: the store's next address moved on.
  static void expect_programmed_one_board(skav::settings::FileSettingsStore& store) {
    skav::MacDigits::Digits next{};
    QCOMPARE(store.machwid_read(nullptr, next), 0);
    QCOMPARE(skav::MacDigits::text(next), std::string("001122334456"));
  }
};

SKAV_GUI_TEST(ProgramTest);
#include "program_test.moc"
