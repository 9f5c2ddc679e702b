#pragma once

#include <QString>

#include <optional>

// A file that replaces the destination whole or not at all. Every export
// writes to a new, private file next to the destination (same folder, so the
// replacement is one rename on one file system) and commits it only once it
// is complete and checked; until then, and on every failure, the destination
// keeps exactly what it held. A destination that is a symbolic link is
// replaced, never followed, so a link planted at a fixed path cannot redirect
// the write. Move-only; removes its file unless committed.
class PendingOutput {
public:
    struct Opened;
    // The pending file for `destination`, or the reason it cannot be written
    // (one sentence): its folder is missing or not writable, or it exists and
    // is not a regular file (a folder, a named pipe, a device).
    static Opened open(const QString &destination);

    PendingOutput(PendingOutput &&other) noexcept;
    PendingOutput &operator=(PendingOutput &&) = delete;
    PendingOutput(const PendingOutput &) = delete;
    PendingOutput &operator=(const PendingOutput &) = delete;
    ~PendingOutput();

    // Where the encoder writes: a hidden name in the destination's folder
    // that keeps the destination's extension.
    const QString &path() const { return m_path; }
    // The destination, absolute.
    const QString &destination() const { return m_destination; }

    // Moves the file over the destination, with the permissions a newly
    // saved file gets (or those of the file it replaces). False, with the
    // pending file removed, when the rename fails.
    bool commit();

private:
    PendingOutput(QString path, QString destination);

    QString m_path;
    QString m_destination;
};

struct PendingOutput::Opened {
    std::optional<PendingOutput> output;
    QString error;
};
