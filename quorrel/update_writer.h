#ifndef QUORREL_UPDATE_WRITER_H
#define QUORREL_UPDATE_WRITER_H

// An incremental update: the file's bytes stay as they are and the changed
// objects are appended after them, with a cross-reference section of the
// file's own form that leads back to the previous one. Readers see the new
// objects; a signature keeps covering the bytes it signed.

#include <qpdf/InputSource.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <optional>
#include <string>
#include <vector>

class QPDF;

namespace quorrel {

// The end of a PDF file as a reader finds it.
struct FileTail {
    qpdf_offset_t size = 0;       // the file's length
    qpdf_offset_t startxref = 0;  // the newest cross-reference section, as written
    bool xrefStream = false;      // that section is a stream, not a table
    bool endsWithEol = true;
};

// Reads the last startxref of `file`; nothing, with `why` set, when a
// reader could not follow it or the file does not start with its header.
std::optional<FileTail> ReadFileTail(InputSource &file, std::string &why);

// Whether a warning of qpdf's means it repaired the file to read it: the
// cross-reference was not what the file says. Other warnings (a /Size
// that is off, say) leave the file fit for an update.
bool IsRepair(const QPDFExc &warning);

// Why `changed` (the objects given new values) cannot be written as an
// update of `pdf`; empty when they can. A file that needed repair to be
// read (`repaired`) takes no update.
std::string WhyNoUpdate(QPDF &pdf, bool repaired, const std::vector<QPDFObjectHandle> &changed);

// The bytes to append to the file: each of `changed` as it is now in
// `pdf` (strings encrypted with the file's key when it is encrypted), a
// cross-reference section in the file's form with /Prev, and a trailer
// keeping /Root, /Info, /Encrypt and the first /ID. Throws
// std::runtime_error when the file cannot take it; what it makes is sound
// only when WhyNoUpdate, asked afterwards, says nothing. A `record` of the
// original (quorrel/original.h) goes into the trailer as it is.
std::string IncrementalUpdate(QPDF &pdf, const FileTail &tail, const std::vector<QPDFObjectHandle> &changed,
                              const std::string &record = {});

// The update for `changed`, or why the file must be written whole.
struct UpdatePlan {
    std::string bytes;              // to append to the file
    std::string whyWhole;           // empty when `bytes` is the update
    std::vector<QPDFExc> warnings;  // qpdf's, met while writing the update
};
UpdatePlan PlanUpdate(QPDF &pdf, InputSource &file, bool repaired, const std::vector<QPDFObjectHandle> &changed,
                      const std::string &record = {});

// What the signatures of a document allow.
struct Signatures {
    bool signedFields = false;   // a signature field holds a signature
    bool certified = false;      // a certification (/Perms /DocMDP)
    int certificationLevel = 0;  // its /P: 1 no changes, 2 forms, 3 annotations too
};
Signatures SignaturesOf(QPDF &pdf);

}  // namespace quorrel

#endif
