// The kestrafin program itself, copied into a fresh folder: it starts, creates
// its settings file next to itself, stores the first-run default and ends
// cleanly when its window is closed the way a window manager closes it. It
// runs on a virtual X display of its own.
#include <sys/prctl.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <csignal>
#include <filesystem>

#include "tests/qt/x_window_close.h"
#include "tests/support/temp_tree.h"

using namespace kestrafin::testing;

class ProgramSmokeTest : public QObject {
    Q_OBJECT
  private slots:
    void starts_in_a_fresh_folder_and_ends_when_its_window_closes() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) QSKIP("Xvfb is not installed, so there is no display to run on");
        QProcess server;
        // The display goes with this test, even if the test is killed.
        server.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        server.start(
            xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                   QStringLiteral("0"), QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"),
                   QStringLiteral("tcp")});
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 10000);
        const QString display_name = QStringLiteral(":") + server.readLine().trimmed();

        TempFolder folder;
        const std::string program = folder / "kestrafin";
        std::filesystem::copy_file(KESTRAFIN_PROGRAM, program);
        QProcess kestrafin;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), display_name);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        kestrafin.setProcessEnvironment(environment);
        kestrafin.setWorkingDirectory(QStringLiteral("/"));
        kestrafin.start(QString::fromStdString(program), {});
        QVERIFY(kestrafin.waitForStarted());

        // The first run creates the settings file and stores the default root.
        const std::string ini = folder / "kestrafin.ini";
        QTRY_COMPARE_WITH_TIMEOUT(access(ini.c_str(), F_OK), 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(read_bytes(ini), std::string("[PATH]\r\nFULLPATH=/\r\n"), 10000);

        const bool asked = QTest::qWaitFor(
            [&] { return request_window_close(display_name.toStdString(), "Kestrafin v1.0"); },
            10000);
        QVERIFY2(asked, qPrintable("no window on " + display_name + ": " +
                                   QString::fromUtf8(kestrafin.readAllStandardError())));
        const bool ended = kestrafin.waitForFinished(10000);
        server.terminate();
        server.waitForFinished(5000);
        QVERIFY2(ended, "the program did not end when its window was closed");
        QCOMPARE(kestrafin.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kestrafin.exitCode(), 0);

        // Nothing else was left in the program folder.
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        QCOMPARE(names, (std::vector<std::string>{"kestrafin", "kestrafin.ini"}));
    }

    void version_prints_the_projects_version_without_a_window() {
        QProcess kestrafin;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));  // no window may be needed
        kestrafin.setProcessEnvironment(environment);
        kestrafin.start(QStringLiteral(KESTRAFIN_PROGRAM), {QStringLiteral("--version")});
        QVERIFY(kestrafin.waitForFinished(30000));
        QCOMPARE(kestrafin.exitCode(), 0);
        QCOMPARE(kestrafin.readAllStandardOutput(),
                 QByteArray("kestrafin " KESTRAFIN_VERSION "\n"));
    }
};

QTEST_GUILESS_MAIN(ProgramSmokeTest)
#include "program_smoke_test.moc"
