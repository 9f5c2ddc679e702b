#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

// What a synthetic stream paints. Each kind stands for screen content
// that costs a recording differently: a small moving ball (a few tiles change
// a frame), typing (a glyph and a caret change, the rest stays), and scrolling
// (the whole picture moves up a few rows every frame). QUILLO_SYNTHETIC_CONTENT
// picks one for the program ("ball", "typing", "scrolling").
//
// The content keeps what it drew between frames, so a frame costs about one copy
// of its pixels whatever its size. Not thread-safe: one stream's generator
// thread paints with it.
class SyntheticContent {
public:
    enum class Kind {
        ball,
        typing,
        scrolling,
    };
    // Absent for a name that is none of the kinds.
    static std::optional<Kind> kindFromName(const QString &name);
    // QUILLO_SYNTHETIC_CONTENT; the ball when it is unset or names no kind.
    static Kind kindFromEnvironment();

    SyntheticContent(Kind kind, QSize size);

    // Frame `index`, asked for in increasing order (the count of frames the
    // stream has painted). Format_ARGB32_Premultiplied, opaque.
    QImage frame(int64_t index);

private:
    QImage ballFrame(int64_t index) const;
    QImage typingFrame(int64_t index);
    QImage scrollingFrame(int64_t index);
    void startTypingPage();
    void paintScrollingPage();

    const Kind m_kind;
    const QSize m_size;
    // Device pixels per point of a 1920 x 1080 layout.
    const double m_scale;

    // Typing: the page with every glyph typed so far.
    QImage m_page;
    int64_t m_typed = 0;
    int m_row = 0;
    int m_column = 0;

    // Scrolling: a page one period plus one screen tall, whose last screen
    // repeats its first so the scroll wraps without a jump.
    QImage m_scrollPage;
    int m_period = 0;
};
