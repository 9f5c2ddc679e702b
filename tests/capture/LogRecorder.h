#pragma once

#include "base/Log.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <mutex>

// Collects the program's log lines (the "Quillo: " copies Log::write sends to
// qInfo) and warnings, from any thread. One per test process; the log file
// itself goes to a private folder so tests never touch a user's log.
class LogRecorder : public ::testing::Environment {
public:
    void SetUp() override
    {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_STATE_HOME", m_dir->path().toUtf8());
        s_previous = qInstallMessageHandler(&LogRecorder::handle);
    }
    void TearDown() override
    {
        qInstallMessageHandler(s_previous);
        Log::flush();
    }

    // Diagnostic log lines since the last clear(), without the "Quillo: " prefix.
    static QStringList lines()
    {
        std::lock_guard lock(s_mutex);
        return s_lines;
    }
    static QStringList warnings()
    {
        std::lock_guard lock(s_mutex);
        return s_warnings;
    }
    static void clear()
    {
        std::lock_guard lock(s_mutex);
        s_lines.clear();
        s_warnings.clear();
    }
    static QStringList linesStartingWith(const QString &prefix)
    {
        QStringList out;
        for (const QString &line : lines()) {
            if (line.startsWith(prefix))
                out << line;
        }
        return out;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext &, const QString &message)
    {
        static const QString prefix = QStringLiteral("Quillo: ");
        std::lock_guard lock(s_mutex);
        if (type == QtInfoMsg && message.startsWith(prefix))
            s_lines << message.mid(prefix.size());
        else if (type == QtWarningMsg)
            s_warnings << message;
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    static inline std::mutex s_mutex;
    static inline QStringList s_lines;
    static inline QStringList s_warnings;
    static inline QtMessageHandler s_previous = nullptr;
};
