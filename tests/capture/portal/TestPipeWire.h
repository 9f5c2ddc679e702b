#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// A PipeWire daemon of the test's own, in a scratch runtime folder, with no
// session manager: the test links nodes itself.
class TestPipeWireDaemon {
public:
    TestPipeWireDaemon();
    ~TestPipeWireDaemon();
    bool isRunning() const { return m_running; }
    QString socketPath() const;
    // A new connection to the daemon, as a portal's OpenPipeWireRemote gives.
    int connect() const;
    // Links `producer`'s output to the first node of the media role
    // `consumerRole` once it shows; false after five seconds.
    bool link(uint32_t producer, const char *consumerRole) const;

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    bool m_running = false;
};

// A screencast node like a compositor's: one fixed format and size, shared
// memory buffers with padded rows, header, crop and damage metadata. Pictures
// go out when push() is called.
class TestScreenProducer {
public:
    enum class Format {
        bgrx,
        bgra,
        rgbx,
        rgba,
    };
    struct Options {
        Format format = Format::bgrx;
        QSize size {320, 200};
        int rowPadding = 64; // bytes after each row
        // Announced as the buffer's content; the rest of the buffer is noise.
        std::optional<QRect> crop;
    };

    TestScreenProducer(const TestPipeWireDaemon &daemon, const Options &options);
    ~TestScreenProducer();
    // The node's id once it is ready to stream; 0 when it never got there.
    uint32_t nodeId() const;
    // Fills the buffer (or its crop) with `picture` (ARGB32, the content's
    // size) and sends it; `damage` (buffer pixels) goes along when given.
    bool push(const QImage &picture, const std::vector<QRect> &damage = {});
    // Waits until the stream is linked and streaming; false after five seconds.
    bool waitUntilStreaming() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
