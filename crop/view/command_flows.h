#ifndef CROP_VIEW_COMMAND_FLOWS_H
#define CROP_VIEW_COMMAND_FLOWS_H

#include "crop/model/document.h"

#include <QObject>
#include <QString>

#include <memory>

class QPrinter;
class QWidget;

namespace crop {

// The commands that ask the user before they act on the document: saving
// a cropped copy, Crop all pages and printing. Each asks what it needs
// (a file, a range, a printer) and then calls the document.
class CommandFlows {
public:
    explicit CommandFlows(COrvaneDoc &document);
    ~CommandFlows();
    CommandFlows(const CommandFlows &) = delete;
    CommandFlows &operator=(const CommandFlows &) = delete;

    // Print, Print Direct, Print Preview and Print Setup.
    void Print(int id);
    // Crop all pages: the range dialog (over `parent`), then the shown
    // rectangle to the pages chosen.
    void CropAllPages(QWidget *parent);
    // Crop Box: the selected region (or the whole page) as exact margins,
    // asked for over `parent`, then given to the pages chosen.
    void CropBox(QWidget *parent);
    // Page Size: the paper or reader's screen and the pages asked for over
    // `parent`, then the pages shaped in one step, what became of them
    // told in the status bar. False when nothing was asked for.
    bool PageSize(QWidget *parent);
    // Split Pages: the grid and the pages asked for over `parent`, then
    // the split in the background.
    void SplitPages(QWidget *parent);
    // Save file and Save As: the output asked for, then the crop run.
    void SaveCropped();

private:
    QPrinter &Printer();

    COrvaneDoc &m_document;
    QObject m_context;  // ends the connections with the flows
    std::unique_ptr<QPrinter> m_printer;
    QString m_outputPath;   // the last output chosen
    QString m_savedFolder;  // where the last copy was written
};

}  // namespace crop

#endif
