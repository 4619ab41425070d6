#ifndef CROP_MODEL_DOCUMENT_STATE_H
#define CROP_MODEL_DOCUMENT_STATE_H

#include <QFlags>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

namespace crop {

// The long work that holds the document: while it runs, nothing else
// changes the regions, and Open, Close and Save are refused. Every
// command's state reads this one value.
enum class Busy { None, CropRun, ShrinkAll, Split, OverlayBuild, Report, Straighten };
// Whether `busy` holds the regions: nothing else may change them
// meanwhile. The overlay's building leaves them free.
inline bool HoldsRegions(Busy busy) { return busy != Busy::None && busy != Busy::OverlayBuild; }
// Why the document refuses what `busy` holds back, in plain words.
inline QString BusyReason(Busy busy) {
    switch (busy) {
    case Busy::CropRun:
        return QStringLiteral("a cropped copy is being written; wait until it is done");
    case Busy::ShrinkAll:
        return QStringLiteral("Shrink All Pages is running; stop it or wait until it is done");
    case Busy::Split:
        return QStringLiteral("Split Pages is running; stop it or wait until it is done");
    case Busy::Straighten:
        return QStringLiteral("Straighten Pages is running; stop it or wait until it is done");
    case Busy::OverlayBuild:
        return QStringLiteral("the overlay is being built; stop it or wait until it is done");
    case Busy::Report:
        return QStringLiteral("what a save will change is being found; wait until it is done");
    case Busy::None:
        break;
    }
    return {};
}

// What changed, told to the document's observers at once.
enum class Change : unsigned {
    Title = 1,
    Regions = 2,  // the shown page's regions, or another page is shown
    History = 4,  // what Undo and Redo can do
    AutoShrink = 8,
    Busy = 16,      // long work began or ended
    Overlay = 32,   // shown, hidden, or its building began or ended
    Outliers = 64,  // the pages to check
    SaveOptions = 128,
};
Q_DECLARE_FLAGS(Changes, Change)
Q_DECLARE_OPERATORS_FOR_FLAGS(Changes)

// One job in the background, as its results reach the window's thread: a
// result is used only while its owner lives and no later job (or a stop,
// or another document) has taken its place. Tickets are copied to the
// worker threads.
class JobTicket {
public:
    JobTicket() = default;
    JobTicket(QObject *owner, std::shared_ptr<std::atomic<uint64_t>> current, uint64_t id)
        : m_owner(owner), m_current(std::move(current)), m_id(id) {}
    // Whether the job is still the one wanted (on any thread).
    bool Live() const { return m_current && m_current->load() == m_id; }
    // `f` run on the owner's thread, if the job is still wanted then.
    template <class F>
    void Post(F f) const {
        QMetaObject::invokeMethod(
            m_owner.data(),
            [ticket = *this, f = std::move(f)]() mutable {
                if (ticket.m_owner && ticket.Live())
                    f();
            },
            Qt::QueuedConnection);
    }

private:
    QPointer<QObject> m_owner;
    std::shared_ptr<std::atomic<uint64_t>> m_current;
    uint64_t m_id = 0;
};

class JobGuard {
public:
    explicit JobGuard(QObject *owner) : m_owner(owner) {}
    // A new job: the results of every earlier one are dropped from now.
    JobTicket Begin() { return {m_owner, m_current, ++*m_current}; }
    // No job's results are wanted any more.
    void Drop() { ++*m_current; }

private:
    QObject *m_owner;
    std::shared_ptr<std::atomic<uint64_t>> m_current = std::make_shared<std::atomic<uint64_t>>(0);
};

}  // namespace crop

#endif
