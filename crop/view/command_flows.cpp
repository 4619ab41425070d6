#include "crop/view/command_flows.h"

#include "crop/detect/page_range.h"
#include "crop/view/crop_box_dialog.h"
#include "crop/view/page_printer.h"
#include "crop/view/page_range_dialog.h"
#include "crop/view/page_size_dialog.h"
#include "crop/view/save_dialogs.h"
#include "crop/view/split_pages_dialog.h"
#include "platform/dialogs.h"
#include "platform/file_identity.h"
#include "platform/file_names.h"
#include "render/page_render.h"
#include "res/command_ids.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QProgressDialog>
#include <QImage>
#include <QPrinter>

#include <cstring>

namespace crop {

CommandFlows::CommandFlows(COrvaneDoc &document) : m_document(document) {
    QObject::connect(&m_document, &COrvaneDoc::CropRunFinished, &m_context, [this](bool ok, const QString &) {
        if (ok)
            m_savedFolder = QFileInfo(m_outputPath).absolutePath();
    });
}

CommandFlows::~CommandFlows() = default;

QPrinter &CommandFlows::Printer() {
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_printer;
}

void CommandFlows::Print(int id) {
    using namespace res;
    if (id == ID_FILE_PRINT_SETUP) {
        platform::AskPrinter(Printer(), platform::PrinterDialog::PageSetup);
        return;
    }
    if (!m_document.IsOpen())
        return;
    const int page = m_document.CurrentPage();
    auto print = [this, page](QPrinter *printer) {
        QString error;
        if (!PrintPage(*printer, *m_document.PageSource(), page, m_document.PagePicture(), error))
            platform::ShowMessage("Print",
                                  QStringLiteral("Page %1 cannot be printed: %2.").arg(page).arg(error).toStdString(),
                                  platform::MessageIcon::Warning);
    };
    switch (id) {
    case ID_FILE_PRINT:
        if (platform::AskPrinter(Printer(), platform::PrinterDialog::Print))
            print(&Printer());
        break;
    case ID_FILE_PRINT_DIRECT:
        if (Printer().outputFormat() == QPrinter::NativeFormat && Printer().printerName().isEmpty()) {
            platform::ShowMessage("Print", "No printer is set up on this computer.", platform::MessageIcon::Warning);
            break;
        }
        print(&Printer());
        break;
    case ID_FILE_PRINT_PREVIEW:
        platform::ShowPrintPreview(Printer(), print);
        break;
    default:
        break;
    }
}

void CommandFlows::CropAllPages(QWidget *parent) {
    if (!m_document.HasPicture() || HoldsRegions(m_document.Busy()))
        return;
    if (m_document.Overlay().Shown()) {
        // The pages of the overlay, which were chosen when it was made.
        m_document.Editing().ApplyRectToPages(m_document.Overlay().Pages());
        return;
    }
    const std::optional<std::vector<int>> pages = CPageRangeDialog::AskPages(parent, m_document.PageCount());
    if (!pages)
        return;
    // Copying no rectangle removes the rectangles of those pages: that is
    // asked, not done by surprise (Ctrl+C is pressed out of habit).
    if (m_document.Editing().CropRectangle().IsEmpty() &&
        !platform::AskYesNo("Crop all pages",
                            QStringLiteral("Page %1 has no crop rectangle to copy. Remove the rectangles "
                                           "of the pages chosen instead?")
                                .arg(m_document.CurrentPage())
                                .toStdString()))
        return;
    m_document.Editing().ApplyRectToPages(*pages);
}

void CommandFlows::CropBox(QWidget *parent) {
    if (!m_document.HasPicture() || HoldsRegions(m_document.Busy()) || m_document.Overlay().Wanted())
        return;
    const int page = m_document.CurrentPage();
    const std::optional<std::pair<double, double>> size = m_document.ShownPageSize(page);
    if (!size || !(size->first > 0 && size->second > 0))
        return;
    CCropBoxDialog dialog(size->first, size->second, m_document.Editing().CropRectangle(), page, m_document.PageCount(),
                          parent, m_document.Save().AddMargins());
    dialog.TrimBoxToo()->setChecked(m_document.Save().TrimBox());
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_document.Save().SetTrimBox(dialog.TrimBoxToo()->isChecked());
    const Margins &m = dialog.AcceptedMargins();
    if ((m.left < 0 || m.top < 0 || m.right < 0 || m.bottom < 0) && !m_document.Save().AddMargins()) {
        // Margins below 0 are margins added: the copy's pages grow.
        m_document.Save().SetAddMargins(true);
        emit m_document.StatusMessage(
            QStringLiteral("Margins past the page are allowed now (Cut > Allow Margins Past the Page): the copy's "
                           "pages grow by them."));
    }
    m_document.Pages().SetMargins(m, dialog.Pages());
}

bool CommandFlows::PageSize(QWidget *parent) {
    CPageSizeDialog dialog(m_document.PageCount(), parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const PageEditing::Shaped shaped = m_document.Pages().ShapePages(
        dialog.Pages(), dialog.AcceptedPaper(), dialog.AcceptedAnchor(), dialog.AcceptedRatio(), dialog.AcceptedFit(),
        dialog.AcceptedWeights(), m_document.Save().RightToLeft());
    // The room added lies past the pages' edges.
    const bool grows = m_document.Pages().ReachesPastPage();
    if (grows)
        m_document.Save().SetAddMargins(true);
    auto pagesAre = [](const std::vector<int> &pages, const QString &one, const QString &many) {
        const bool single = pages.size() == 1;
        return QStringLiteral("%1 %2 %3")
            .arg(single ? QStringLiteral("page") : QStringLiteral("pages"),
                 QString::fromStdString(PageRangeText(pages)), single ? one : many);
    };
    QStringList notes;
    if (!shaped.cut.empty())
        notes << pagesAre(shaped.cut, QStringLiteral("is larger than the paper and is cut to it"),
                          QStringLiteral("are larger than the paper and are cut to it"));
    if (!shaped.scaled.empty())
        notes << pagesAre(shaped.scaled, QStringLiteral("is larger than the paper and is drawn smaller to fit it"),
                          QStringLiteral("are larger than the paper and are drawn smaller to fit it"));
    if (!shaped.tooSmall.empty())
        notes << pagesAre(shaped.tooSmall,
                          QStringLiteral("would be drawn at less than 1 % of its size and stays as it was"),
                          QStringLiteral("would be drawn at less than 1 % of their size and stay as they were"));
    const QString past = QString::number(int(kLargestPage));
    if (!shaped.tooLarge.empty())
        notes << pagesAre(shaped.tooLarge, QStringLiteral("would grow past %1 pt and stays as it was").arg(past),
                          QStringLiteral("would grow past %1 pt and stay as they were").arg(past));
    emit m_document.StatusMessage(
        !notes.isEmpty() ? QStringLiteral("Page Size: %1.").arg(notes.join(QStringLiteral("; ")))
        : grows ? QStringLiteral("Page Size: the pages grow margins past their edges in the copy (Cut > Allow Margins "
                                 "Past the Page).")
                : QStringLiteral("Page Size: the pages are cropped to the paper."));
    return true;
}

namespace {

// A bitmap as an image, rows top-down.
QImage ImageOf(const PixelView &page) {
    QImage image(page.width, page.height, QImage::Format_BGR888);
    for (int y = 0; y < page.height && !image.isNull(); ++y)
        std::memcpy(image.scanLine(y), page.Row(y), size_t(page.width) * 3);
    return image;
}

}  // namespace

void CommandFlows::SplitPages(QWidget *parent) {
    if (!m_document.HasPicture() || m_document.Overlay().Wanted())
        return;
    const PixelView page = PixelView::Of(m_document.PagePicture());
    const CPagePicture &picture = m_document.PagePicture();
    if (!page.Valid() || picture.PageWidth() <= 0)
        return;
    // Another page of the range, should the range leave out the shown one.
    auto pageImage = [this](int number, double &pixelsPerPoint) {
        render::PageSource *source = m_document.PageSource();
        QRect rect;
        QString reason, note;
        const render::BitmapHandle bitmap =
            source ? render::RenderPageBitmap(*source, number, rect, reason, note) : render::BitmapHandle();
        const PixelView view = bitmap ? PixelView::Of(*bitmap) : PixelView();
        if (!view.Valid() || view.channels != 3 || rect.width() <= 0)
            return QImage();
        pixelsPerPoint = double(view.width) / rect.width();
        return ImageOf(view);
    };
    CSplitPagesDialog dialog(ImageOf(page), double(page.width) / picture.PageWidth(), m_document.CurrentPage(),
                             m_document.PageCount(), m_document.Save().RightToLeft(), pageImage, parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QString reason;
    if (!m_document.Whole().SplitPages(dialog.Grid(), dialog.Pages(), dialog.CellMargin(), dialog.OneSize(), reason))
        platform::ShowMessage("Split Pages", reason.toStdString(), platform::MessageIcon::Warning);
}

void CommandFlows::SaveCropped() {
    using Refused = CropSave::Refused;
    if (!m_document.IsOpen() || m_document.Busy() != Busy::None)
        return;
    const std::string title = "Save";
    auto warn = [&](const QString &text) {
        platform::ShowMessage(title, text.toStdString(), platform::MessageIcon::Warning);
    };
    // Whether the file changed on disk is asked below.
    if (m_document.Save().Check(true) == Refused::NotPdf) {
        warn(QStringLiteral("Only PDF documents can be saved cropped; %1 is not a PDF.").arg(m_document.Title()));
        return;
    }
    // A rectangle drawn on the overlay is given to its pages first, if the
    // user wants it to be.
    if (!m_document.Overlay().Settle())
        return;
    // A copy the same as the document is no crop.
    if (m_document.Save().Check(true) == Refused::NoRegion) {
        platform::ShowMessage(title, "No page has a crop rectangle; nothing was cropped.",
                              platform::MessageIcon::Information);
        return;
    }
    if (!QFileInfo(CropRun::ToolPath()).isExecutable()) {
        warn(QStringLiteral("The crop tool cannot be found: %1 is missing. It belongs beside the program; "
                            "install the program again to save cropped documents.")
                 .arg(CropRun::ToolPath()));
        return;
    }
    // In the folder of the last copy written, or else of the document.
    const QString folder = m_savedFolder.isEmpty() ? QFileInfo(m_document.PathName()).absolutePath() : m_savedFolder;
    const std::string chosen =
        platform::AskSaveFileName("PDF Files (*.pdf);;All Files (*)", "pdf", folder.toStdString());
    if (chosen.empty())
        return;
    // Given to the crop tool as chosen: the tool follows a link to the file
    // it names, unless another user may have planted it.
    m_outputPath = QString::fromStdString(chosen);
    // A file nobody may write is one its owner meant to keep: replaced only
    // when the user says so again.
    const bool readOnly = platform::IsReadOnly(platform::NativePath(m_outputPath));
    if (readOnly &&
        !platform::AskYesNo(title, QStringLiteral("%1 is read-only. Replace it with the cropped copy anyway?")
                                       .arg(m_outputPath)
                                       .toStdString()))
        return;
    if (m_document.Save().IsDocumentFile(m_outputPath) &&
        !platform::AskYesNo(title,
                            QStringLiteral("%1 is the document you have open. Replace it with the cropped copy?\n\n"
                                           "It is then opened afresh, without its rectangles and undo history.")
                                .arg(m_outputPath)
                                .toStdString()))
        return;
    // The rectangles belong to the pages the file held when it was opened.
    const bool changed = m_document.FileChangedOnDisk();
    if (changed &&
        !platform::AskYesNo(title, QStringLiteral("%1 has changed on disk since it was opened, so its pages "
                                                  "may no longer be the ones the rectangles were drawn on.\n\n"
                                                  "Save a cropped copy of it as it is now?")
                                       .arg(m_document.PathName())
                                       .toStdString()))
        return;
    QString reason;
    if (m_document.Save().ReportBeforeSaving()) {
        // What the save will change, as the crop tool's dry run finds it.
        QByteArray report;
        QProgressDialog waiting(QStringLiteral("Finding what the save will change..."), QStringLiteral("Cancel"), 0, 0,
                                QApplication::activeWindow());
        waiting.setWindowTitle(QString::fromStdString(title));
        waiting.setWindowModality(Qt::WindowModal);
        waiting.setMinimumDuration(400);
        const bool told = m_document.Save().Report(
            m_outputPath, report, reason, [&waiting] { return waiting.wasCanceled(); }, readOnly);
        const bool cancelled = waiting.wasCanceled();
        waiting.reset();
        if (cancelled)
            return;
        // Without its report the copy can still be written, if the user wants.
        if (!told && !platform::AskYesNo(title, QStringLiteral("What the save will change cannot be told: %1.\n\n"
                                                               "Save the cropped copy anyway?")
                                                    .arg(reason)
                                                    .toStdString()))
            return;
        if (told) {
            CSaveReportDialog dialog(DescribeSaveReport(report, m_document.Save().RemoveHidden()),
                                     QApplication::activeWindow());
            const bool save = dialog.exec() == QDialog::Accepted;
            if (dialog.DontShowAgain())
                m_document.Save().SetReportBeforeSaving(false);
            if (!save)
                return;
        }
    }
    if (!m_document.Save().Run(m_outputPath, reason, changed, readOnly))
        warn(QStringLiteral("%1 cannot be written: %2.").arg(m_outputPath, reason));
}

}  // namespace crop
