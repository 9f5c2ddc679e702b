#include "capture/CaptureError.h"

#include <QHash>

namespace {

const QString &captureErrorDomain()
{
    static const QString domain = QStringLiteral("Quillo.CaptureError");
    return domain;
}

QString describe(CaptureError error)
{
    switch (error) {
    case CaptureError::noDisplay:
        return QStringLiteral("No display is available to record. (Quillo.CaptureError error 0.)");
    case CaptureError::lowMemory:
        return QStringLiteral("Memory was running low, so the recording stopped before it ran out.");
    case CaptureError::diskFull:
        return QStringLiteral("The disk is full, so the recording stopped.");
    case CaptureError::storeFailed:
        return QStringLiteral("The recording's frames could not be written to disk, so the recording stopped.");
    case CaptureError::screenNotShared:
        return QStringLiteral("The frame is on a screen that was not chosen for sharing. Press REC again and share the "
                              "screen the frame is on.");
    }
    return {};
}

} // namespace

CaptureFailure::CaptureFailure(CaptureError error)
    : m_domain(captureErrorDomain())
    , m_code(static_cast<int64_t>(error))
    , m_description(describe(error))
{
}

CaptureFailure::CaptureFailure(QString domain, int64_t code, QString description)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_description(std::move(description))
{
}

std::optional<CaptureError> CaptureFailure::captureError() const
{
    if (m_domain != captureErrorDomain())
        return std::nullopt;
    for (CaptureError error : {CaptureError::noDisplay, CaptureError::screenNotShared, CaptureError::lowMemory,
             CaptureError::diskFull, CaptureError::storeFailed}) {
        if (m_code == static_cast<int64_t>(error))
            return error;
    }
    return std::nullopt;
}

QString CaptureFailure::toString() const
{
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(m_domain).arg(m_code).arg(m_description);
}

size_t qHash(const CaptureFailure &failure, size_t seed)
{
    return qHashMulti(seed, failure.domain(), failure.code());
}
