// Kills a process that records or edits at random moments and opens what it
// left: every step it had completed is there, exactly, and nothing twice.
#include "StoreTestSupport.h"

#include "store/FrameStore.h"
#include "store/Recordings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>
#include <poll.h>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

using namespace StoreTest;

namespace {

constexpr int TRIALS = 25; // per kind: 50 kill points in all
const QSize SIZE(160, 100);

QImage recordedFrame(int i)
{
    return screen(SIZE, i * 3, i);
}

// Runs `work` in a forked child that reports completed steps through a pipe,
// kills it after `killAfterMs` (never when negative), and returns the last
// step it reported. The child must not touch anything the parent's threads
// hold; it leaves with _exit.
int runAndKill(
    const std::function<void(const std::function<void(int)> &report)> &work, int killAfterMs, int *elapsedMs = nullptr)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        work([&](int step) {
            if (::write(fds[1], &step, sizeof step) != sizeof step)
                ::_exit(3);
        });
        ::_exit(0);
    }
    ::close(fds[1]);
    int last = 0;
    bool open = true;
    auto drain = [&](int timeoutMs) {
        pollfd p {fds[0], POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0)
            return;
        int step = 0;
        const ssize_t n = ::read(fds[0], &step, sizeof step);
        if (n == sizeof step)
            last = step;
        else if (n == 0)
            open = false;
    };
    while (open && (killAfterMs < 0 || clock.elapsed() < killAfterMs))
        drain(killAfterMs < 0 ? 1000 : std::max<int>(1, killAfterMs - int(clock.elapsed())));
    if (open)
        ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (elapsedMs)
        *elapsedMs = int(clock.elapsed());
    // What the child reported before it died is still in the pipe; with the
    // child gone, reading ends there.
    int step = 0;
    while (::read(fds[0], &step, sizeof step) == sizeof step)
        last = step;
    ::close(fds[0]);
    return last;
}

FrameStore::Options under(const QString &root)
{
    FrameStore::Options options;
    options.root = root;
    return options;
}

// ---- the edit sequence, on store frames in the child and on pictures in the
// parent ----

template <typename Frame> struct Project {
    std::vector<Frame> frames;
    std::vector<int64_t> delays;
    int64_t loop = 0;
};

constexpr int EDITS = 8;

template <typename Frame>
void edit(int step, Project<Frame> &p,
    const std::function<std::vector<Frame>(const std::vector<Frame> &, std::function<QImage(const QImage &)>)>
        &transform)
{
    switch (step) {
    case 1: // speed
        for (int64_t &d : p.delays)
            d += 10;
        break;
    case 2: // reverse
        std::reverse(p.frames.begin(), p.frames.end());
        std::reverse(p.delays.begin(), p.delays.end());
        break;
    case 3: // delete every third
        for (size_t i = p.frames.size(); i-- > 0;) {
            if (i % 3 == 0) {
                p.frames.erase(p.frames.begin() + std::ptrdiff_t(i));
                p.delays.erase(p.delays.begin() + std::ptrdiff_t(i));
            }
        }
        break;
    case 4: // crop
        p.frames = transform(p.frames, [](const QImage &i) { return i.copy(11, 7, 121, 71); });
        break;
    case 5: // loop, and the first frame moved to the end
        p.loop = 3;
        std::rotate(p.frames.begin(), p.frames.begin() + 1, p.frames.end());
        std::rotate(p.delays.begin(), p.delays.begin() + 1, p.delays.end());
        break;
    case 6: // resize
        p.frames = transform(p.frames, [](const QImage &i) { return i.scaled(60, 35); });
        break;
    case 7: // a frame shown twice
        p.frames.push_back(p.frames[2]);
        p.delays.push_back(77);
        break;
    case 8:
        p.frames.erase(p.frames.begin(), p.frames.begin() + 2);
        p.delays.erase(p.delays.begin(), p.delays.begin() + 2);
        for (int64_t &d : p.delays)
            d = 50;
        break;
    }
}

RecordingIndex indexOf(const Project<FrameRef> &p)
{
    RecordingIndex index;
    index.loopCount = p.loop;
    index.fps = 30;
    index.canvas = p.frames.empty() ? QSize() : p.frames.front()->size();
    for (size_t i = 0; i < p.frames.size(); ++i)
        index.entries.push_back({p.frames[i], p.delays[i]});
    return index;
}

bool matches(const RecordingIndex &got, const Project<QImage> &want)
{
    if (got.entries.size() != want.frames.size() || got.loopCount != want.loop)
        return false;
    for (size_t i = 0; i < want.frames.size(); ++i) {
        if (got.entries[i].delayMs != want.delays[i] || !sameBytes(got.entries[i].frame->image(), want.frames[i]))
            return false;
    }
    return true;
}

void copyFolder(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    for (const QString &name : QDir(from).entryList(QDir::Files)) {
        if (name != "lock")
            QFile::copy(from + '/' + name, to + '/' + name);
    }
}

} // namespace

TEST(StoreRecovery, KilledWhileRecording_KeepsEveryFrameItReportedWritten)
{
    constexpr int FRAMES = 160;
    QTemporaryDir dir;
    std::vector<QImage> pictures;
    for (int i = 0; i < FRAMES; ++i)
        pictures.push_back(recordedFrame(i));
    auto record = [&](const QString &root) {
        return [root, &pictures](const std::function<void(int)> &report) {
            RecordingInfo info;
            info.fps = 30;
            FrameStore::Created created = FrameStore::create(info, under(root));
            if (!created.store)
                ::_exit(2);
            for (int i = 0; i < FRAMES; ++i) {
                created.store->append(pictures[size_t(i)], i / 30.0);
                if (i % 4 == 3) {
                    created.store->waitForWrites();
                    report(i + 1);
                }
            }
        };
    };
    int fullMs = 0;
    ASSERT_EQ(runAndKill(record(dir.path() + "/whole"), -1, &fullMs), FRAMES);

    std::mt19937 random(12);
    int reachedAll = 0;
    for (int trial = 0; trial < TRIALS; ++trial) {
        const QString root = dir.path() + QString("/trial%1").arg(trial);
        const int killAt = std::uniform_int_distribution<int>(0, fullMs)(random);
        const int reported = runAndKill(record(root), killAt);
        SCOPED_TRACE(testing::Message() << "trial " << trial << ", killed at " << killAt << " ms after " << reported
                                        << " frames");
        const std::vector<RecordingSummary> found = Recordings::list(root);
        if (reported == 0 && (found.empty() || found[0].frameCount == 0))
            continue;
        ASSERT_EQ(found.size(), 1u);
        EXPECT_TRUE(found[0].problem.isEmpty()) << qPrintable(found[0].problem);
        const FrameStore::Opened opened = FrameStore::open(found[0].folder, under(root));
        ASSERT_FALSE(opened.error);
        EXPECT_TRUE(opened.exact) << qPrintable(opened.problems.join('\n'));
        const size_t kept = opened.index.entries.size();
        EXPECT_EQ(int64_t(kept), found[0].frameCount);
        ASSERT_GE(kept, size_t(reported));
        ASSERT_LE(kept, size_t(FRAMES));
        reachedAll += kept == size_t(FRAMES);
        for (size_t i = 0; i < kept; ++i) {
            ASSERT_TRUE(sameBytes(opened.index.entries[i].frame->image(), pictures[i])) << "frame " << i;
            ASSERT_EQ(opened.index.entries[i].delayMs, 33);
        }
    }
    EXPECT_LT(reachedAll, TRIALS) << "no kill landed inside a recording";
}

TEST(StoreRecovery, KilledWhileEditing_OpensAsAfterTheLastCompletedEdit)
{
    QTemporaryDir dir;
    // The edit sequence on plain pictures: the states the folder may show.
    std::vector<Project<QImage>> states(1);
    for (int i = 0; i < 30; ++i) {
        states[0].frames.push_back(recordedFrame(i));
        states[0].delays.push_back(33 + i % 3);
    }
    for (int step = 1; step <= EDITS; ++step) {
        states.push_back(states.back());
        edit<QImage>(step, states.back(), [](const std::vector<QImage> &in, std::function<QImage(const QImage &)> op) {
            std::vector<QImage> out;
            for (const QImage &i : in)
                out.push_back(op(i));
            return out;
        });
    }

    QString base;
    {
        FrameStore::Created created = FrameStore::create(RecordingInfo {}, under(dir.path() + "/base"));
        Project<FrameRef> p;
        for (size_t i = 0; i < states[0].frames.size(); ++i) {
            p.frames.push_back(created.store->append(states[0].frames[i], double(i)));
            p.delays.push_back(states[0].delays[i]);
        }
        created.store->saveIndex(indexOf(p));
        ASSERT_FALSE(created.store->waitForWrites());
        base = created.store->folder();
    }

    auto editing = [](const QString &folder) {
        return [folder](const std::function<void(int)> &report) {
            FrameStore::Opened opened = FrameStore::open(folder, FrameStore::Options {});
            if (!opened.store)
                ::_exit(2);
            Project<FrameRef> p;
            p.loop = opened.index.loopCount;
            for (const RecordingIndex::Entry &e : opened.index.entries) {
                p.frames.push_back(e.frame);
                p.delays.push_back(e.delayMs);
            }
            for (int step = 1; step <= EDITS; ++step) {
                edit<FrameRef>(step, p, [&](const std::vector<FrameRef> &in, std::function<QImage(const QImage &)> op) {
                    return *opened.store->transformAll(in, op);
                });
                opened.store->saveIndex(indexOf(p));
                if (opened.store->waitForWrites())
                    ::_exit(4);
                report(step);
            }
        };
    };
    int fullMs = 0;
    copyFolder(base, dir.path() + "/whole/rec");
    ASSERT_EQ(runAndKill(editing(dir.path() + "/whole/rec"), -1, &fullMs), EDITS);
    {
        const FrameStore::Opened opened = FrameStore::open(dir.path() + "/whole/rec", FrameStore::Options {});
        ASSERT_TRUE(matches(opened.index, states[EDITS]));
    }

    std::mt19937 random(34);
    std::vector<int> landed(EDITS + 1, 0);
    for (int trial = 0; trial < TRIALS; ++trial) {
        const QString folder = dir.path() + QString("/trial%1/rec").arg(trial);
        copyFolder(base, folder);
        const int killAt = std::uniform_int_distribution<int>(0, fullMs)(random);
        const int done = runAndKill(editing(folder), killAt);
        SCOPED_TRACE(testing::Message() << "trial " << trial << ", killed at " << killAt << " ms after edit " << done);
        const FrameStore::Opened opened = FrameStore::open(folder, FrameStore::Options {});
        ASSERT_FALSE(opened.error);
        EXPECT_TRUE(opened.exact) << qPrintable(opened.problems.join('\n'));
        // The edit under way when the kill came may have completed without
        // having been reported.
        const bool asDone = matches(opened.index, states[size_t(done)]);
        const bool asNext = done < EDITS && matches(opened.index, states[size_t(done + 1)]);
        ASSERT_TRUE(asDone || asNext);
        ++landed[size_t(asDone ? done : done + 1)];
    }
    EXPECT_LT(landed[EDITS], TRIALS) << "no kill landed inside the edits";
}
