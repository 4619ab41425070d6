#ifndef QUORREL_OUTPUT_FILE_H
#define QUORREL_OUTPUT_FILE_H

#include <cstdio>
#include <string>

namespace quorrel {

// A file written beside its final path and renamed into place only when
// it is complete, so a failure leaves no half-written file and an existing
// file at that path intact. Dropping it without Commit removes the
// temporary file.
class OutputFile {
public:
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Creates the temporary file; false with `error` set when the folder
    // cannot take it.
    bool Open(std::string &error);
    std::FILE *Stream() const { return m_stream; }
    // Flushes, syncs and renames into place.
    bool Commit(std::string &error);

private:
    std::string m_path;
    std::string m_temp;
    std::FILE *m_stream = nullptr;
};

}  // namespace quorrel

#endif
