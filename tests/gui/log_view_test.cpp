#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "gui_test_main.h"
#include "frontends/qt/command_line.h"
#include "frontends/qt/log_view.h"
#include "present/log_document.h"

using skav::present::LogDocument;
using skav::gui::CommandLine;
using skav::gui::LogView;
using skav::gui::ParseResult;

namespace {

// The view must always show exactly the shown bytes of the log.
bool view_matches(const LogView& view) {
  return view.toPlainText().toLatin1().toStdString() == view.log_document().display_text();
}

ParseResult parse(QStringList args, CommandLine& out) {
  args.prepend("skav-gui");
  return skav::gui::parse_command_line(args, out);
}

}  // namespace

class LogViewTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void keeps_the_exact_bytes_and_shows_line_ends_once();
  void erase_last_takes_a_line_end_as_one_character();
  void trimmed_at_its_limit_keeps_the_newest_text();
  void a_line_longer_than_the_limit_keeps_its_newest_part();
  void set_bytes_replaces_the_log();
  void long_lines_show_in_pieces();
  void command_line_options();
  void command_line_errors();
  void ctrl_a_selects_the_whole_log_and_types_nothing();
};

void LogViewTest::keeps_the_exact_bytes_and_shows_line_ends_once() {
  LogView view;
  view.append_bytes("abc");
  view.append_bytes("def\r\n");
  view.append_bytes("split\r");  // a line end cut between two appends
  view.append_bytes("\nnext\tcol\x01\r\n");
  QCOMPARE(view.bytes(), std::string("abcdef\r\nsplit\r\nnext\tcol\x01\r\n"));
  QCOMPARE(view.toPlainText(), QStringLiteral("abcdef\nsplit\nnext\tcol\n"));
  QCOMPARE(view.document()->blockCount(), 4);
  QCOMPARE(view.lineWrapMode(), QPlainTextEdit::NoWrap);
  QVERIFY(view.font().fixedPitch());
}

void LogViewTest::erase_last_takes_a_line_end_as_one_character() {
  LogView view;
  view.append_bytes("Input MAC Address : 12\r\n");
  view.erase_last();
  QCOMPARE(view.bytes(), std::string("Input MAC Address : 12"));
  QCOMPARE(view.toPlainText(), QStringLiteral("Input MAC Address : 12"));
  view.erase_last();
  view.erase_last();
  view.erase_last();
  QCOMPARE(view.bytes(), std::string("Input MAC Address :"));
  QVERIFY(view_matches(view));

  LogView lone;
  lone.append_bytes("a\nb\r");
  lone.erase_last();  // the carriage return, which shows nothing
  QCOMPARE(lone.bytes(), std::string("a\nb"));
  QCOMPARE(lone.toPlainText(), QStringLiteral("a\nb"));
  lone.erase_last();
  lone.erase_last();
  QCOMPARE(lone.toPlainText(), QStringLiteral("a"));
  lone.erase_last();
  lone.erase_last();  // empty: nothing happens
  QVERIFY(lone.bytes().empty());
  QVERIFY(lone.toPlainText().isEmpty());
}

void LogViewTest::trimmed_at_its_limit_keeps_the_newest_text() {
  LogView view;
  std::string last;
  int n = 0;
  // Lines of varying length, appended in batches as the window receives them.
  while (n < 30000) {
    std::string batch;
    for (int k = 0; k < 17; ++k, ++n) {
      last = "line " + std::to_string(n) + " " + std::string(static_cast<std::size_t>(n % 97), '.') + "\r\n";
      batch += last;
    }
    view.append_bytes(batch);
    QVERIFY(view.bytes().size() <= LogDocument::kLimit);
  }
  const std::string& bytes = view.bytes();
  QVERIFY(bytes.size() > LogDocument::kLimit - LogDocument::kTrimSlack - 2000);
  QVERIFY(bytes.size() >= last.size());
  QCOMPARE(bytes.substr(bytes.size() - last.size()), last);
  // Only whole lines were dropped.
  QVERIFY(bytes.rfind("line ", 0) == 0);
  QVERIFY(view_matches(view));
  QCOMPARE(view.document()->blockCount(),
           static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
}

void LogViewTest::a_line_longer_than_the_limit_keeps_its_newest_part() {
  LogView view;
  view.append_bytes("first\r\n");
  std::string chunk(1000, 'x');
  for (int i = 0; i < 1100; ++i) view.append_bytes(chunk);
  view.append_bytes("END");
  const std::string& bytes = view.bytes();
  QVERIFY(bytes.size() <= LogDocument::kLimit);
  QCOMPARE(bytes.substr(bytes.size() - 3), std::string("END"));
  QVERIFY(bytes.find("first") == std::string::npos);
  QVERIFY(view_matches(view));
}

void LogViewTest::set_bytes_replaces_the_log() {
  LogView view;
  view.append_bytes("old\r\n");
  view.set_bytes("new\r\ntext");
  QCOMPARE(view.bytes(), std::string("new\r\ntext"));
  QCOMPARE(view.toPlainText(), QStringLiteral("new\ntext"));
  view.clear_log();
  QVERIFY(view.bytes().empty());
  QVERIFY(view.toPlainText().isEmpty());
}

void LogViewTest::long_lines_show_in_pieces() {
  LogView view;
  const std::size_t width = LogDocument::kShownWidth;
  view.append_bytes("head\r\n");
  view.append_bytes(std::string(width, 'a'));
  QCOMPARE(view.document()->blockCount(), 2);
  view.append_bytes("b");
  QCOMPARE(view.document()->blockCount(), 3);
  QVERIFY(view_matches(view));
  view.erase_last();  // the piece holding only "b" goes with its break
  QCOMPARE(view.document()->blockCount(), 2);
  QCOMPARE(view.bytes(), "head\r\n" + std::string(width, 'a'));
  QVERIFY(view_matches(view));
  view.append_bytes("\r\n");
  view.erase_last();
  view.append_bytes("c\r\n");
  QCOMPARE(view.document()->blockCount(), 4);
  QVERIFY(view_matches(view));
}

void LogViewTest::command_line_options() {
  CommandLine none;
  QCOMPARE(parse({}, none).kind, ParseResult::kRun);
  QCOMPARE(none.setup.simulate, 0);
  QCOMPARE(none.setup.dir, std::filesystem::path("."));

  CommandLine simulate;
  QCOMPARE(parse({"--simulate"}, simulate).kind, ParseResult::kRun);
  QCOMPARE(simulate.setup.simulate, 3);

  CommandLine all;
  QCOMPARE(parse({"--simulate=5", "--settings", "/tmp/s.reg", "-C", "/tmp", "--timeout", "7"},
                 all)
               .kind,
           ParseResult::kRun);
  QCOMPARE(all.setup.simulate, 5);
  QCOMPARE(all.setup.settings, std::filesystem::path("/tmp/s.reg"));
  QCOMPARE(all.setup.dir, std::filesystem::path("/tmp"));
  QCOMPARE(all.setup.timeout, std::chrono::milliseconds(7000));
  QVERIFY(all.log_file.isEmpty());

  // A file name, as Open would take it.
  CommandLine with_file;
  QCOMPARE(parse({"shift.log"}, with_file).kind, ParseResult::kRun);
  QCOMPARE(with_file.log_file, QStringLiteral("shift.log"));

  CommandLine documentation;
  QCOMPARE(parse({"--size", "1280x800", "--simulate-corrupt-read", "4"}, documentation).kind,
           ParseResult::kRun);
  QCOMPARE(documentation.width, 1280);
  QCOMPARE(documentation.height, 800);
  QCOMPARE(documentation.setup.board.faults.corrupt_read, 4);
  QCOMPARE(documentation.setup.faults_port, -1);

  CommandLine ports;
  QCOMPARE(parse({"--simulate=2", "--ports", "3", "--simulate-fault-port", "2"}, ports).kind,
           ParseResult::kRun);
  QCOMPARE(ports.setup.ports, 3);
  QCOMPARE(ports.setup.faults_port, 2);
  CommandLine adapters;
  QCOMPARE(parse({"--interface", "eth1", "--interface", "eth2", "--pool", "postgresql://line@db/skav"},
                 adapters)
               .kind,
           ParseResult::kRun);
  QCOMPARE(adapters.setup.interfaces, (std::vector<std::string>{"eth1", "eth2"}));
  QCOMPARE(adapters.setup.pool, std::string("postgresql://line@db/skav"));
  QCOMPARE(adapters.setup.simulate, 0);

  CommandLine help;
  ParseResult shown = parse({"--help"}, help);
  QCOMPARE(shown.kind, ParseResult::kHelp);
  QVERIFY(shown.text.contains("--simulate"));
  QVERIFY(!shown.text.contains("--screenshot"));
  QVERIFY(!shown.text.contains("--size"));
  QVERIFY(!shown.text.contains("--simulate-corrupt-read"));
  QVERIFY(!shown.text.contains("--simulate-fault-port"));
  QVERIFY(shown.text.contains("--ports"));
  QVERIFY(shown.text.contains("--interface"));
  // The window offers the shared table's rows for it, and shows what they are.
  for (const skav::app::StationOption& option : skav::app::station_options()) {
    const QString name = QString::fromUtf8(option.name.data(), static_cast<qsizetype>(option.name.size()));
    const bool offered = (option.faces & skav::app::kQtWindow) != 0;
    const QRegularExpression listed(QStringLiteral("(^|\\n)\\s+(-\\w+, )?") +
                                    QRegularExpression::escape(name) + QStringLiteral("[ ,\\n]"));
    QVERIFY2(shown.text.contains(listed) == (offered && !option.hidden), qPrintable(name));
    CommandLine taken;
    QStringList args{name};
    if (option.kind == skav::app::ValueKind::kText || option.kind == skav::app::ValueKind::kTextEach)
      args << "x";
    else if (option.kind == skav::app::ValueKind::kNumber)
      args << QString::number(option.min);
    else if (option.kind == skav::app::ValueKind::kFolder)
      args << ".";
    if (option.needs == "--simulate") args.prepend("--simulate");
    QVERIFY2((parse(args, taken).kind == ParseResult::kRun) == offered, qPrintable(args.join(' ')));
  }
}

void LogViewTest::command_line_errors() {
  for (const QStringList& args :
       {QStringList{"--simulate=0"}, QStringList{"--simulate=x"}, QStringList{"--timeout", "-1"},
        QStringList{"--timeout", "soon"}, QStringList{"--timeout", "0.5"}, QStringList{"--timeout", "0"}, QStringList{"--settings"}, QStringList{"--bogus"},
        QStringList{"first.log", "second.log"}, QStringList{"--size", "1280"},
        QStringList{"--size", "x800"}, QStringList{"--size", "0x800"},
        QStringList{"--simulate-corrupt-read", "0"}, QStringList{"--ports", "2"},
        QStringList{"--simulate", "--ports", "0"}, QStringList{"--simulate", "--ports", "17"},
        QStringList{"--simulate", "--interface", "eth1"},
        QStringList{"--simulate", "--ports", "2", "--simulate-fault-port", "2"},
        QStringList{"-C", "/nonexistent/line"}, QStringList{"--simulate=2", "--simulate-fault-port", "1"}}) {
    CommandLine out;
    ParseResult result = parse(args, out);
    QVERIFY2(result.kind == ParseResult::kError, qPrintable(args.join(' ')));
    QVERIFY(!result.text.isEmpty());
  }
}

void LogViewTest::ctrl_a_selects_the_whole_log_and_types_nothing() {
  LogView view;
  QString typed;
  view.set_key_handler([&typed](char c) { typed += QLatin1Char(c); });
  view.append_bytes("Waiting connecting to Target...\r\nConnected...\r\nInput MAC Address : ");
  QVERIFY(!view.textCursor().hasSelection());
  QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
  QCOMPARE(view.textCursor().selectedText(),
           QStringLiteral("Waiting connecting to Target...\u2029Connected...\u2029Input MAC Address : "));
  QVERIFY(typed.isEmpty());
  // A plain "a" still goes to the MAC entry.
  QTest::keyClick(&view, Qt::Key_A);
  QCOMPARE(typed, QStringLiteral("a"));
}

SKAV_GUI_TEST(LogViewTest);
#include "log_view_test.moc"
