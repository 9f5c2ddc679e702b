#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// The capture engine's own errors.
enum class CaptureError {
    // The backend offers no screen at all.
    noDisplay,
    // The region's screen is not among those the user chose to share.
    screenNotShared,
    // Memory ran low while recording: the recording ended itself to keep
    // what it had.
    lowMemory,
    // The disk that keeps the recording's frames is full: the recording ended
    // with the frames kept until then.
    diskFull,
    // The recording's frames could not be written to disk for another reason
    // (the folder cannot be written, an I/O error); it ended the same way.
    storeFailed,
};

// Any failure a capture start can report: the engine's own `CaptureError`, or
// a capture service's error passed through unchanged. Both travel in the one
// std::optional<CaptureFailure> of the start completion, so the caller needs
// no branch per source. A plain value: copy it to any thread.
class CaptureFailure {
public:
    // The engine's own error: domain "Quillo.CaptureError", code = the case's
    // index (0 for noDisplay, 1 for screenNotShared, ...). Implicit, so a
    // CaptureError can be delivered wherever a failure is expected.
    CaptureFailure(CaptureError error);
    // A capture service's error. `description` is the sentence a user reads in
    // the "Could not start recording" alert.
    CaptureFailure(QString domain, int64_t code, QString description);

    const QString &domain() const { return m_domain; }
    int64_t code() const { return m_code; }
    const QString &description() const { return m_description; }

    // The engine's own case when this failure is one, else nullopt.
    std::optional<CaptureError> captureError() const;

    // The default text form, used in log lines and self-test output:
    // Error Domain=<domain> Code=<code> "<description>"
    QString toString() const;

    // Equal when domain and code are equal: two noDisplay failures compare
    // equal whatever produced them.
    friend bool operator==(const CaptureFailure &a, const CaptureFailure &b)
    {
        return a.m_domain == b.m_domain && a.m_code == b.m_code;
    }

private:
    QString m_domain;
    int64_t m_code = 0;
    QString m_description;
};

size_t qHash(const CaptureFailure &failure, size_t seed = 0);
