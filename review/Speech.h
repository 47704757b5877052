#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <QProcess>

// Reads card texts aloud through the system speech command. Each review view
// type owns one channel; a new speak() cuts off the channel's running speech.
// Nothing waits for the speech and its failures are silent.
class SpeechChannel : public QObject {
    Q_OBJECT
public:
    explicit SpeechChannel(QObject* parent = nullptr);

    // Terminates the previous speech of this channel, then starts the command
    // with the text (part-of-speech marker removed) as one argument.
    void speak(const QString& text);

    // The most recently started speech process while it runs, else null.
    QProcess* current() const { return current_.data(); }

    // The speech program: $TAVLO_SPEECH_COMMAND when set, else "espeak-ng".
    static QString program();

private:
    QPointer<QProcess> current_;
};
