// The built program started as a user starts it: what it says on the terminal.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

// Starts the program in an empty folder with `env`; gives it `runMs` before it
// is asked to end, unless it ends by itself.
struct ProgramRun {
    bool endedByItself = false;
    int exitCode = 0;
    QString errors;
};

ProgramRun RunProgram(const QProcessEnvironment& env, int runMs)
{
    QTemporaryDir folder;
    QProcess program;
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(folder.path());
    program.start(QStringLiteral(VOCARINE_PROGRAM), {});
    EXPECT_TRUE(program.waitForStarted(10000));
    ProgramRun run;
    run.endedByItself = program.waitForFinished(runMs);
    if (!run.endedByItself) {
        program.terminate();
        program.waitForFinished(10000);
    }
    run.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
    run.errors = QString::fromLocal8Bit(program.readAllStandardError());
    return run;
}

TEST(ProgramStartTest, WithoutADisplayItSaysWhyOnTheTerminalAndFails)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

    const ProgramRun run = RunProgram(env, 30000);

    ASSERT_TRUE(run.endedByItself);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_TRUE(run.errors.contains(QStringLiteral("display"), Qt::CaseInsensitive)) << run.errors.toStdString();
}

TEST(ProgramStartTest, AStartedProgramKeepsTheTerminalQuiet)
{
    // The offscreen platform talks a good deal on its own.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    const ProgramRun run = RunProgram(env, 3000);

    EXPECT_FALSE(run.endedByItself) << "exit code " << run.exitCode << ": " << run.errors.toStdString();
    EXPECT_EQ(run.errors.toStdString(), "");
}

}  // namespace
