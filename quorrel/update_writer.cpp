#include "quorrel/update_writer.h"

#include <qpdf/QPDF.hh>
#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_String.hh>
#include <qpdf/QPDFCryptoProvider.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>

namespace quorrel {
namespace {

constexpr size_t kTailLength = 1024;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0'; }

std::string ReadAt(InputSource &file, qpdf_offset_t at, size_t length) {
    std::string bytes(length, '\0');
    file.seek(at, SEEK_SET);
    bytes.resize(file.read(bytes.data(), length));
    return bytes;
}

std::string Reference(QPDFObjGen og) { return std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " R"; }

// Encrypts the strings of a new object the way the file's other objects
// are: RC4 or AES (CBC, a random first block) with a key made from the
// file's key and the object's number.
class StringCipher {
public:
    explicit StringCipher(QPDF &pdf) {
        int P = 0;
        QPDF::encryption_method_e stream = QPDF::e_none, file = QPDF::e_none;
        if (pdf.isEncrypted(m_R, P, m_V, stream, m_method, file)) {
            m_key = pdf.getEncryptionKey();
            // Before crypt filters (V 4) every string is RC4.
            if (m_V < 4)
                m_method = QPDF::e_rc4;
        } else {
            m_method = QPDF::e_none;
        }
    }

    bool None() const { return m_method == QPDF::e_none; }
    bool Supported() const {
        return m_method == QPDF::e_none || m_method == QPDF::e_rc4 || m_method == QPDF::e_aes ||
               m_method == QPDF::e_aesv3;
    }

    std::string operator()(const std::string &plain, QPDFObjGen og) const {
        if (m_method == QPDF::e_none)
            return plain;
        const bool aes = m_method != QPDF::e_rc4;
        const std::string key = QPDF::compute_data_key(m_key, og.getObj(), og.getGen(), aes, m_V, m_R);
        auto crypto = QPDFCryptoProvider::getImpl();
        const auto *keyBytes = reinterpret_cast<const unsigned char *>(key.data());
        if (!aes) {
            std::string out(plain.size(), '\0');
            crypto->RC4_init(keyBytes, int(key.size()));
            crypto->RC4_process(reinterpret_cast<const unsigned char *>(plain.data()), plain.size(),
                                reinterpret_cast<unsigned char *>(out.data()));
            crypto->RC4_finalize();
            return out;
        }
        constexpr size_t kBlock = QPDFCryptoImpl::rijndael_buf_size;
        unsigned char iv[kBlock];
        QUtil::initializeWithRandomBytes(iv, kBlock);
        std::string out(reinterpret_cast<const char *>(iv), kBlock);
        // Padded to whole blocks, each pad byte the pad's length.
        std::string padded = plain;
        padded.append(kBlock - plain.size() % kBlock, char(kBlock - plain.size() % kBlock));
        crypto->rijndael_init(true, keyBytes, key.size(), true, iv);
        unsigned char in[kBlock], block[kBlock];
        for (size_t at = 0; at < padded.size(); at += kBlock) {
            std::memcpy(in, padded.data() + at, kBlock);
            crypto->rijndael_process(in, block);
            out.append(reinterpret_cast<const char *>(block), kBlock);
        }
        crypto->rijndael_finalize();
        return out;
    }

private:
    int m_R = 0, m_V = 0;
    QPDF::encryption_method_e m_method = QPDF::e_none;
    std::string m_key;
};

// A name with every byte that is not a regular character written as #xx,
// '#' itself too. A stray '#' qpdf has read is kept as a NUL and written
// back as it was; a hex digit after it is written as #xx, so the two do
// not join into an escape.
void WriteName(std::string &out, const std::string &name) {
    static const char digits[] = "0123456789ABCDEF";
    out += '/';
    bool afterStray = false;
    for (size_t i = 1; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool stray = afterStray;
        afterStray = c == 0;
        if (c == 0) {
            out += '#';
        } else if (c < 33 || c > 126 || std::strchr("#()<>[]{}/%", c) || (stray && std::isxdigit(c))) {
            out += '#';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += char(c);
        }
    }
}

// Writes a value in PDF syntax; objects it refers to stay references, and
// strings go through `cipher` for object `og`.
void WriteValue(std::string &out, QPDFObjectHandle value, const StringCipher &cipher, QPDFObjGen og, bool top) {
    if (!top && value.isIndirect()) {
        out += Reference(value.getObjGen());
    } else if (value.isString()) {
        out += QPDFObjectHandle::newString(cipher(value.getStringValue(), og)).unparse();
    } else if (value.isArray()) {
        out += '[';
        for (int i = 0, n = value.getArrayNItems(); i < n; ++i) {
            if (i > 0)
                out += ' ';
            WriteValue(out, value.getArrayItem(i), cipher, og, false);
        }
        out += ']';
    } else if (value.isDictionary()) {
        out += "<<";
        // The entries as they are: asking for the keys would read every
        // object they refer to, to leave out those that are null.
        for (auto &[key, item] : value.getDictAsMap()) {
            if (!item.isIndirect() && item.isNull())
                continue;  // a null entry is no entry
            out += ' ';
            WriteName(out, key);
            out += ' ';
            WriteValue(out, item, cipher, og, false);
        }
        out += " >>";
    } else if (value.isName()) {
        WriteName(out, value.getName());
    } else {
        out += value.unparse();
    }
}

// The trailer's entries that carry over: the catalogue, the document
// information, the encryption and the file's identifier, its first half
// unchanged and its second made from this revision's bytes.
std::string TrailerEntries(QPDF &pdf, const std::string &body) {
    QPDFObjectHandle trailer = pdf.getTrailer();
    std::string out;
    for (const char *key : {"/Root", "/Info", "/Encrypt"}) {
        if (!trailer.hasKey(key))
            continue;
        out += ' ';
        out += key;
        out += ' ';
        QPDFObjectHandle value = trailer.getKey(key);
        if (value.isIndirect())
            out += Reference(value.getObjGen());
        else  // written as the file has it: trailer values are never encrypted
            out += value.unparse();
    }
    QPDFObjectHandle id = trailer.getKey("/ID");
    if (id.isArray() && id.getArrayNItems() >= 1 && id.getArrayItem(0).isString()) {
        const std::string first = id.getArrayItem(0).getStringValue();
        auto md5 = QPDFCryptoProvider::getImpl();
        md5->MD5_init();
        md5->MD5_update(reinterpret_cast<const unsigned char *>(first.data()), first.size());
        md5->MD5_update(reinterpret_cast<const unsigned char *>(body.data()), body.size());
        md5->MD5_finalize();
        QPDFCryptoImpl::MD5_Digest digest;
        md5->MD5_digest(digest);
        out += " /ID [<" + QUtil::hex_encode(first) + "> <" +
               QUtil::hex_encode(std::string(reinterpret_cast<const char *>(digest), 16)) + ">]";
    }
    return out;
}

// Where each written object is: its number, then generation and offset;
// for an object kept in an object stream, generation -1 - its index there
// and the stream's number in place of an offset.
using Written = std::map<int, std::pair<int, qpdf_offset_t>>;

// The most objects one object stream of the update holds.
constexpr size_t kObjectsPerStream = 200;

std::string Deflated(const std::string &data) {
    std::string out;
    Pl_String sink("update object stream", nullptr, out);
    Pl_Flate flate("update object stream", &sink, Pl_Flate::a_deflate);
    flate.write(reinterpret_cast<const unsigned char *>(data.data()), data.size());
    flate.finish();
    return out;
}

// Runs of consecutive object numbers among those written: (first, count).
std::vector<std::pair<int, int>> Runs(const Written &written) {
    std::vector<std::pair<int, int>> runs;
    for (const auto &[id, entry] : written) {
        if (!runs.empty() && runs.back().first + runs.back().second == id)
            ++runs.back().second;
        else
            runs.push_back({id, 1});
    }
    return runs;
}

// The number after every object number the file has used (they all stay
// taken) and every one in `written`.
long long FirstFreeNumber(QPDF &pdf, const Written &written) {
    long long size = 1;
    QPDFObjectHandle declared = pdf.getTrailer().getKey("/Size");
    if (declared.isInteger())
        size = std::max(size, declared.getIntValue());
    for (const auto &[og, entry] : pdf.getXRefTable())
        size = std::max<long long>(size, og.getObj() + 1LL);
    for (const auto &[id, entry] : written)
        size = std::max<long long>(size, id + 1LL);
    return size;
}

// A cross-reference table for `written` and the trailer after it, which
// takes `entries` besides /Size.
std::string XrefTable(const Written &written, long long size, const std::string &entries) {
    std::string out = "xref\n";
    for (const auto &[first, count] : Runs(written)) {
        out += std::to_string(first) + " " + std::to_string(count) + "\n";
        for (int id = first; id < first + count; ++id) {
            char line[24];
            std::snprintf(line, sizeof line, "%010lld %05d n\r\n", static_cast<long long>(written.at(id).second),
                          written.at(id).first);
            out += line;
        }
    }
    out += "trailer\n<< /Size " + std::to_string(size) + entries + " >>\n";
    return out;
}

// A cross-reference stream for `written`, at `xrefAt`, with `entries` in
// its dictionary. The stream is an object too, numbered `size` (after all
// others), and lists itself.
std::string XrefStream(Written &written, long long size, qpdf_offset_t xrefAt, const std::string &entries) {
    const int self = int(size);
    written[self] = {0, xrefAt};
    size = self + 1LL;
    const int offsetBytes = xrefAt > 0xFFFFFFFFLL ? 8 : 4;
    std::string data, index;
    for (const auto &[first, count] : Runs(written))
        index += (index.empty() ? "" : " ") + std::to_string(first) + " " + std::to_string(count);
    for (const auto &[id, entry] : written) {
        // Type 1, offset and generation; or type 2, the object stream
        // and the index in it.
        const bool inStream = entry.first < 0;
        const int third = inStream ? -1 - entry.first : entry.first;
        data += char(inStream ? 2 : 1);
        for (int b = offsetBytes - 1; b >= 0; --b)
            data += char((entry.second >> (8 * b)) & 0xFF);
        data += char((third >> 8) & 0xFF);
        data += char(third & 0xFF);
    }
    // Compressed: a cross-reference stream is never encrypted.
    data = Deflated(data);
    return std::to_string(self) + " 0 obj\n<< /Type /XRef /Size " + std::to_string(size) + " /W [1 " +
           std::to_string(offsetBytes) + " 2] /Index [" + index + "]" + entries + " /Filter /FlateDecode" +
           " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
}

}  // namespace

std::optional<FileTail> ReadFileTail(InputSource &file, std::string &why) {
    FileTail tail;
    file.seek(0, SEEK_END);
    tail.size = file.tell();
    // Readers differ on files with bytes before the header (which offsets
    // count from where); an update is written only where none do.
    if (ReadAt(file, 0, 5) != "%PDF-") {
        why = "the input's PDF header is not at its start";
        return std::nullopt;
    }
    const qpdf_offset_t from = std::max<qpdf_offset_t>(0, tail.size - qpdf_offset_t(kTailLength));
    const std::string end = ReadAt(file, from, size_t(tail.size - from));
    tail.endsWithEol = !end.empty() && (end.back() == '\n' || end.back() == '\r');
    const size_t keyword = end.rfind("startxref");
    if (keyword == std::string::npos) {
        why = "the input has no startxref near its end";
        return std::nullopt;
    }
    size_t at = keyword + 9;
    while (at < end.size() && IsSpace(end[at]))
        ++at;
    qpdf_offset_t offset = 0;
    size_t digits = 0;
    for (; at < end.size() && end[at] >= '0' && end[at] <= '9' && digits < 18; ++at, ++digits)
        offset = offset * 10 + (end[at] - '0');
    if (digits == 0 || offset >= tail.size) {
        why = "the input's startxref leads nowhere";
        return std::nullopt;
    }
    tail.startxref = offset;
    const std::string section = ReadAt(file, offset, 64);
    size_t first = 0;
    while (first < section.size() && IsSpace(section[first]))
        ++first;
    tail.xrefStream = section.compare(first, 4, "xref") != 0;
    return tail;
}

bool IsRepair(const QPDFExc &warning) {
    const std::string what = warning.what();
    return what.find("reconstruct") != std::string::npos || what.find("file is damaged") != std::string::npos;
}

std::string WhyNoUpdate(QPDF &pdf, bool repaired, const std::vector<QPDFObjectHandle> &changed) {
    if (repaired)
        return "the input is damaged and had to be repaired to be read";
    for (const QPDFObjectHandle &object : changed)
        if (!object.isIndirect())
            return "a page of the input is not an object of its own";
    if (!StringCipher(pdf).Supported())
        return "the input's strings are encrypted in a way this tool cannot write";
    return {};
}

std::string IncrementalUpdate(QPDF &pdf, const FileTail &tail, const std::vector<QPDFObjectHandle> &changed,
                              const std::string &record) {
    const StringCipher cipher(pdf);
    const qpdf_offset_t base = tail.size;
    std::string out = tail.endsWithEol ? "" : "\n";
    Written written;
    // A file whose cross-reference is a stream reads object streams: there
    // the objects go compressed, many to a stream (an encrypted file's
    // streams would need its stream cipher, so its objects go as they are).
    const bool packed = tail.xrefStream && cipher.None();
    std::vector<QPDFObjectHandle> toPack;
    for (const QPDFObjectHandle &object : changed) {
        const QPDFObjGen og = object.getObjGen();
        if (written.count(og.getObj()))
            continue;
        if (packed && og.getGen() == 0 && !QPDFObjectHandle(object).isStream()) {
            written[og.getObj()] = {0, 0};  // placed below
            toPack.push_back(object);
            continue;
        }
        written[og.getObj()] = {og.getGen(), base + qpdf_offset_t(out.size())};
        out += std::to_string(og.getObj()) + " " + std::to_string(og.getGen()) + " obj\n";
        WriteValue(out, object, cipher, og, true);
        out += "\nendobj\n";
    }

    // Every object number the file has used stays taken.
    long long size = FirstFreeNumber(pdf, written);

    for (size_t first = 0; first < toPack.size(); first += kObjectsPerStream) {
        const size_t n = std::min(kObjectsPerStream, toPack.size() - first);
        const int self = int(size++);
        std::string header, body;
        for (size_t i = 0; i < n; ++i) {
            const QPDFObjGen og = toPack[first + i].getObjGen();
            header += std::to_string(og.getObj()) + " " + std::to_string(body.size()) + " ";
            WriteValue(body, toPack[first + i], cipher, og, true);
            body += '\n';
            written[og.getObj()] = {-1 - int(i), self};
        }
        const std::string data = Deflated(header + body);
        written[self] = {0, base + qpdf_offset_t(out.size())};
        out += std::to_string(self) + " 0 obj\n<< /Type /ObjStm /N " + std::to_string(n) + " /First " +
               std::to_string(header.size()) + " /Filter /FlateDecode /Length " + std::to_string(data.size()) +
               " >>\nstream\n" + data + "\nendstream\nendobj\n";
    }

    const qpdf_offset_t xrefAt = base + qpdf_offset_t(out.size());
    const std::string carried = TrailerEntries(pdf, out) + record;
    const std::string prev = " /Prev " + std::to_string(tail.startxref);
    if (!tail.xrefStream) {
        if (xrefAt > 9999999999LL)
            throw std::runtime_error("the input is too large for a cross-reference table");
        out += XrefTable(written, size, prev + carried);
    } else {
        out += XrefStream(written, size, xrefAt, prev + carried);
    }
    out += "startxref\n" + std::to_string(xrefAt) + "\n%%EOF\n";
    return out;
}

UpdatePlan PlanUpdate(QPDF &pdf, InputSource &file, bool repaired, const std::vector<QPDFObjectHandle> &changed,
                      const std::string &record) {
    UpdatePlan plan;
    plan.whyWhole = WhyNoUpdate(pdf, repaired, changed);
    try {
        std::optional<FileTail> tail;
        if (plan.whyWhole.empty())
            tail = ReadFileTail(file, plan.whyWhole);
        if (tail)
            plan.bytes = IncrementalUpdate(pdf, *tail, changed, record);
        // Damage found only as the objects were written out.
        for (const QPDFExc &warning : pdf.getWarnings()) {
            repaired = repaired || IsRepair(warning);
            plan.warnings.push_back(warning);
        }
        if (plan.whyWhole.empty())
            plan.whyWhole = WhyNoUpdate(pdf, repaired, changed);
    } catch (const std::runtime_error &e) {
        plan.whyWhole = e.what();
    }
    if (!plan.whyWhole.empty())
        plan.bytes.clear();
    return plan;
}

Signatures SignaturesOf(QPDF &pdf) {
    Signatures found;
    QPDFObjectHandle root = pdf.getRoot();
    // Fields and their kids, each once, not too deep.
    std::set<QPDFObjGen> seen;
    std::vector<std::pair<QPDFObjectHandle, int>> todo;
    QPDFObjectHandle form = root.getKey("/AcroForm");
    if (form.isDictionary() && form.getKey("/Fields").isArray())
        for (QPDFObjectHandle field : form.getKey("/Fields").aitems())
            todo.push_back({field, 0});
    while (!todo.empty() && !found.signedFields) {
        auto [field, depth] = todo.back();
        todo.pop_back();
        if (!field.isDictionary() || depth > 32 || (field.isIndirect() && !seen.insert(field.getObjGen()).second))
            continue;
        QPDFObjectHandle value = field.getKey("/V");
        if (value.isDictionary() && value.hasKey("/ByteRange"))
            found.signedFields = true;
        if (field.getKey("/Kids").isArray())
            for (QPDFObjectHandle kid : field.getKey("/Kids").aitems())
                todo.push_back({kid, depth + 1});
    }
    QPDFObjectHandle perms = root.getKey("/Perms");
    QPDFObjectHandle certification = perms.isDictionary() ? perms.getKey("/DocMDP") : QPDFObjectHandle::newNull();
    if (certification.isDictionary()) {
        found.certified = true;
        found.certificationLevel = 2;  // what no /P means
        QPDFObjectHandle references = certification.getKey("/Reference");
        if (references.isArray())
            for (QPDFObjectHandle reference : references.aitems()) {
                if (!reference.isDictionary() || !reference.getKey("/TransformMethod").isNameAndEquals("/DocMDP"))
                    continue;
                QPDFObjectHandle level = reference.getKey("/TransformParams").isDictionary()
                                             ? reference.getKey("/TransformParams").getKey("/P")
                                             : QPDFObjectHandle::newNull();
                if (level.isInteger())
                    found.certificationLevel = int(level.getIntValue());
            }
    }
    return found;
}

}  // namespace quorrel
