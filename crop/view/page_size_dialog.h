#ifndef CROP_VIEW_PAGE_SIZE_DIALOG_H
#define CROP_VIEW_PAGE_SIZE_DIALOG_H

#include "crop/detect/page_shape.h"
#include "crop/view/page_choice.h"

#include <QDialog>

#include <optional>
#include <utility>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;

namespace crop {

// "Page Size": every page of a range made one paper size (a name from the
// list, or WxH typed, such as 6x9in), its crop placed on the paper by an
// anchor, drawn smaller where it is larger than the paper (or cut to it);
// or its crop grown to an aspect (a reader's screen from the list, or W:H
// typed), the room added shared between the sides by weight. Which pages as Straighten Pages asks them. It opens on
// the choices it last closed with. A size, aspect or range that cannot be
// read is refused with the reason, and the dialog stays open.
class CPageSizeDialog : public QDialog {
    Q_OBJECT
public:
    explicit CPageSizeDialog(int pageCount, QWidget *parent = nullptr);

    QRadioButton *PaperChoice() const { return m_paperChoice; }
    QRadioButton *RatioChoice() const { return m_ratioChoice; }
    QComboBox *Paper() const { return m_paper; }
    QComboBox *Anchoring() const { return m_anchor; }
    QComboBox *Ratio() const { return m_ratio; }
    QCheckBox *Fit() const { return m_fit; }
    QLineEdit *Weights() const { return m_weights; }
    QComboBox *PagesList() const { return m_choice.list; }
    QLineEdit *Range() const { return m_choice.range; }
    QLabel *Problem() const { return m_choice.problem; }

    // What OK accepted: a paper and its anchor, or an aspect; the pages.
    const std::optional<PaperSize> &AcceptedPaper() const { return m_acceptedPaper; }
    Anchor AcceptedAnchor() const { return m_acceptedAnchor; }
    const std::optional<ReaderScreen> &AcceptedRatio() const { return m_acceptedRatio; }
    bool AcceptedFit() const { return m_acceptedFit; }
    const RoomWeights &AcceptedWeights() const { return m_acceptedWeights; }
    const std::vector<int> &Pages() const { return m_pages; }
    void done(int result) override;

private:
    void Refuse(const QString &why, QWidget *where);

    int m_pageCount = 0;
    QRadioButton *m_paperChoice = nullptr, *m_ratioChoice = nullptr;
    QComboBox *m_paper = nullptr, *m_anchor = nullptr, *m_ratio = nullptr;
    QCheckBox *m_fit = nullptr;
    QLineEdit *m_weights = nullptr;
    PageChoice m_choice;
    std::optional<PaperSize> m_acceptedPaper;
    Anchor m_acceptedAnchor = Anchor::Centre;
    std::optional<ReaderScreen> m_acceptedRatio;
    std::vector<ReaderScreen> m_screens;
    bool m_acceptedFit = true;
    RoomWeights m_acceptedWeights;
    std::vector<int> m_pages;
    struct Last {
        bool ratio = false;
        QString paper = QStringLiteral("A4"), ratioText = QStringLiteral("3:4");
        int anchor = 0;
        bool fit = true;
        QString weights = QStringLiteral("1,1,1,1");
        int list = 0;
        QString range;
    };
    static Last s_last;
};

}  // namespace crop

#endif
