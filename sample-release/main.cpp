// sample-release DIR: writes two small firmware releases into DIR for trying out the
// uploader: each release's version control file, its Motorola S-record files and, beside
// each NAME.mot, NAME.expected.bin, the image of the file's window start..end inclusive.

#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// A run of records: data bytes for addresses [from, to] in records of `per_record` bytes,
// the first record beginning at `from` exactly.
struct Run {
    std::uint32_t from;
    std::uint32_t to;
    std::size_t per_record;
    std::uint8_t seed;   // varies the content so that overwriting records are visible
};

struct ImageFile {
    std::string name;        // without ".mot"
    int record_type;         // 1, 2 or 3
    std::uint32_t start;     // window
    std::uint32_t end;
    std::vector<Run> runs;   // in file order; later runs overwrite earlier ones
};

struct SampleRelease {
    std::string file;        // e.g. DEMO.PJV
    std::string name;
    std::string version;
    std::vector<ImageFile> files;
};

std::uint8_t content(std::uint32_t address, std::uint8_t seed) {
    std::uint32_t x = address * 2654435761u + seed * 40503u;
    x ^= x >> 13;
    return static_cast<std::uint8_t>(x ^ (x >> 7) ^ (address & 0xFF));
}

char hex_digit(unsigned v) { return "0123456789ABCDEF"[v & 0xF]; }

void put_hex(std::string& line, std::uint32_t value, int bytes) {
    for (int k = bytes - 1; k >= 0; --k) {
        const unsigned b = (value >> (8 * k)) & 0xFF;
        line += hex_digit(b >> 4);
        line += hex_digit(b);
    }
}

// One S-record with its byte count and checksum (ones' complement of the sum of count,
// address and data bytes).
std::string record(int type, std::uint32_t address, const Bytes& data) {
    const int address_bytes = type == 0 || type == 1 || type == 9 ? 2 : type == 2 || type == 8 ? 3 : 4;
    const unsigned count = address_bytes + data.size() + 1;
    unsigned sum = count;
    for (int k = 0; k < address_bytes; ++k) sum += (address >> (8 * k)) & 0xFF;
    for (auto b : data) sum += b;
    std::string line = "S";
    line += static_cast<char>('0' + type);
    put_hex(line, count, 1);
    put_hex(line, address, address_bytes);
    for (auto b : data) put_hex(line, b, 1);
    put_hex(line, (~sum) & 0xFF, 1);
    return line + "\r\n";
}

bool write_file(const std::string& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::fprintf(stderr, "sample-release: cannot write %s\n", path.c_str());
    return static_cast<bool>(out);
}

bool write_motorola(const std::string& dir, const ImageFile& f) {
    std::string text = record(0, 0, Bytes(f.name.begin(), f.name.end()));
    Bytes image(f.end - f.start + 1, 0xFF);
    for (const Run& run : f.runs) {
        for (std::uint32_t a = run.from; a <= run.to; a += static_cast<std::uint32_t>(run.per_record)) {
            Bytes data;
            for (std::uint32_t b = a; b <= run.to && data.size() < run.per_record; ++b) {
                data.push_back(content(b, run.seed));
                if (b >= f.start && b <= f.end) image[b - f.start] = data.back();
            }
            text += record(f.record_type, a, data);
        }
    }
    text += record(10 - f.record_type, 0, {});   // S9, S8 or S7 to close
    return write_file(dir + "/" + f.name + ".mot", text.data(), text.size()) &&
           write_file(dir + "/" + f.name + ".expected.bin", image.data(), image.size());
}

void put_text(Bytes& b, std::size_t at, std::size_t size, const std::string& s) {
    for (std::size_t i = 0; i < size && i < s.size(); ++i) b[at + i] = static_cast<std::uint8_t>(s[i]);
}

void put_be32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<std::uint8_t>(v >> (24 - 8 * k));
}

bool write_release(const std::string& dir, const SampleRelease& r) {
    Bytes pjv(768, 0);
    put_text(pjv, 0, 16, "PROJECTOR OS");
    put_text(pjv, 16, 16, r.name);
    put_text(pjv, 32, 16, r.version);
    put_be32(pjv, 52, 768);
    for (int i = 0; i < 16; ++i) {
        const std::size_t e = 64 + 32 * i;
        pjv[e] = static_cast<std::uint8_t>(i + 1);
        if (i < static_cast<int>(r.files.size())) {
            put_text(pjv, e + 1, 14, r.files[i].name);
            put_be32(pjv, e + 16, r.files[i].start);
            put_be32(pjv, e + 24, r.files[i].end);
        }
    }
    put_text(pjv, 576, 192, "Sample release for trying out the uploader. Not for use on a real device.");
    if (!write_file(dir + "/" + r.file, pjv.data(), pjv.size())) return false;
    for (const ImageFile& f : r.files)
        if (!write_motorola(dir, f)) return false;
    return true;
}

// With a block message size of 16,384 a block carries 16,364 image bytes.
std::vector<SampleRelease> releases() {
    return {
        {"DEMO.PJV", "Demo Release", "0105",
         {
             // S1; span 32,728 = 2 blocks exactly. Records start below the window and run
             // past its end; a later run overwrites 40 bytes in the middle.
             {"BOOT", 1, 0x0100, 0x0100 + 32728,
              {{0x00F0, 0x0100 + 32728 + 21, 32, 1}, {0x4000 - 7, 0x4000 + 32, 20, 2}}},
             // S2; span 50,000 (3 blocks and part of a fourth); a hole of never-written bytes
             // in the second block, records crossing both window edges.
             {"MAIN", 2, 0x010000, 0x010000 + 50000,
              {{0x00FFE5, 0x014000, 28, 3}, {0x014200, 0x010000 + 50000 + 30, 30, 4}}},
             // S3; a window of 1,001 addresses inside one block, far up in the address space.
             {"DATA", 3, 0x01230000, 0x01230000 + 1000,
              {{0x0122FFF0, 0x01230000 + 1000 + 16, 24, 5}}},
         }},
        {"SMALL.PJV", "Small Release", "0200",
         {
             {"TINY", 1, 0x0000, 0x00FF, {{0x0000, 0x00FF, 16, 6}}},
         }},
    };
}

}  // namespace

// One release NAME.PJV of one S3 file NAME.mot with `bytes` bytes from address 0, in records
// of 32 bytes: the releases that the benchmarks upload.
SampleRelease sized_release(const std::string& name, std::uint32_t bytes) {
    return {name + ".PJV", name, "0300", {{name, 3, 0, bytes - 1, {{0, bytes - 1, 32, 7}}}}};
}

int main(int argc, char** argv) {
    const bool sized = argc == 5 && std::string(argv[1]) == "--sized";
    if ((argc != 2 && !sized) || std::string(argv[1]) == "--help") {
        std::fprintf(argc == 2 ? stdout : stderr,
                     "usage: sample-release DIR\n"
                     "       sample-release --sized NAME BYTES DIR\n"
                     "Writes DEMO.PJV (\"Demo Release\" 0105: BOOT, MAIN, DATA) and SMALL.PJV\n"
                     "(\"Small Release\" 0200: TINY) into DIR, each NAME.mot with NAME.expected.bin,\n"
                     "the image of the file's window from start to end address inclusive.\n"
                     "--sized writes NAME.PJV instead, one S3 file NAME.mot (NAME up to 8 characters)\n"
                     "of BYTES bytes (1 to 1048576) from address 0, in records of 32 bytes.\n");
        return argc == 2 ? 0 : 2;
    }
    std::vector<SampleRelease> wanted;
    if (sized) {
        const std::string name = argv[2];
        char* end = nullptr;
        const unsigned long bytes = std::strtoul(argv[3], &end, 10);
        if (name.empty() || name.size() > 8 || *end || bytes < 1 || bytes > 1048576) {
            std::fprintf(stderr, "sample-release: --sized needs a name of 1 to 8 characters and 1 to 1048576 bytes\n");
            return 2;
        }
        wanted.push_back(sized_release(name, static_cast<std::uint32_t>(bytes)));
    } else {
        wanted = releases();
    }
    const std::string dir = argv[argc - 1];
    mkdir(dir.c_str(), 0777);
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "sample-release: %s is not a directory\n", dir.c_str());
        return 1;
    }
    for (const SampleRelease& r : wanted)
        if (!write_release(dir, r)) return 1;
    return 0;
}
