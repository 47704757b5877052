#include "review/Speech.h"

#include "review/AnswerMatching.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>

SpeechChannel::SpeechChannel(QObject* parent)
    : QObject(parent)
{
}

QString SpeechChannel::program()
{
    const QString configured = qEnvironmentVariable("TAVLO_SPEECH_COMMAND");
    return configured.isEmpty() ? QStringLiteral("espeak-ng") : configured;
}

void SpeechChannel::speak(const QString& text)
{
    if (current_)
        current_->terminate();

    const QString executable = QStandardPaths::findExecutable(program());
    if (executable.isEmpty()) {
        current_ = nullptr;
        return;
    }

    // Owned by the application rather than the channel or a view: a closed
    // popup must not kill (and block on) speech that is still running.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(executable);
    // "--" ends the options, so a card text such as "-w file" or "--help" is
    // spoken instead of being obeyed.
    process->setArguments({QStringLiteral("--"), stripPOS(text)});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->setInputChannelMode(QProcess::ForwardedInputChannel);
    // Deleting the object once the child has exited also reaps it.
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    current_ = process;
    process->start();
}
