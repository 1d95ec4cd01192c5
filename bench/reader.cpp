// The Motorola reader against the S-record tools a technician already has. One run writes the
// test files (S1 on 64 KiB, the most that 16-bit addresses reach; S2 and S3 on 1 MiB; records of
// 16, 32 and 64 data bytes), then measures per file:
//   reader/<file>   read_motorola_file in this process: CPU per read, peak heap per read
//   objcopy/<file>  a whole `objcopy -I srec -O binary` run: CPU (user + system)
//   srec_cat/<file> a whole `srec_cat FILE -o OUT -binary` run: CPU
// Times are manual (CPU seconds, not wall), so the rows compare like with like. The reader's
// counters: file_bytes, peak_bytes (its peak heap with the caller's 1 MiB image buffer).
// With --write-only DIR the program only writes the test files into DIR and ends.
#include "common/Reporter.h"
#include "image/MotorolaReader.h"

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

// Heap accounting: malloc and its kin are taken over for the whole process (Qt's containers
// allocate with malloc, operator new ends there too) and passed on to glibc's own. What is
// counted is the bytes asked for, as heap profilers count them: each block carries its size
// and the block glibc gave in 16 bytes in front of it.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_realloc(void*, std::size_t);
void __libc_free(void*);
}

namespace {
std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void account(long long delta) {
    const long long live = g_live.fetch_add(delta) + delta;
    long long peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {}
}

struct Header {
    void* base;         // what glibc returned
    std::size_t size;   // bytes asked for
};
static_assert(sizeof(Header) == 16);

Header* header_of(void* p) { return static_cast<Header*>(p) - 1; }

void* place(void* base, std::size_t offset, std::size_t size) {
    if (!base) return nullptr;
    char* p = static_cast<char*>(base) + offset;
    *header_of(p) = Header{base, size};
    account(static_cast<long long>(size));
    return p;
}

void* aligned(std::size_t alignment, std::size_t n) {
    if (alignment < 16) alignment = 16;
    void* base = __libc_malloc(n + alignment + sizeof(Header));
    if (!base) return nullptr;
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(base) + sizeof(Header);
    const std::uintptr_t at = (start + alignment - 1) / alignment * alignment;
    return place(base, at - reinterpret_cast<std::uintptr_t>(base), n);
}
}  // namespace

extern "C" {
void* malloc(std::size_t n) { return place(__libc_malloc(n + sizeof(Header)), sizeof(Header), n); }
void* calloc(std::size_t n, std::size_t size) {
    if (size && n > static_cast<std::size_t>(-1) / 2 / size) return nullptr;
    void* p = malloc(n * size);
    if (p) std::memset(p, 0, n * size);
    return p;
}
void free(void* p) {
    if (!p) return;
    const Header h = *header_of(p);
    account(-static_cast<long long>(h.size));
    __libc_free(h.base);
}
void* realloc(void* old, std::size_t n) {
    if (!old) return malloc(n);
    const Header h = *header_of(old);
    if (h.base != static_cast<void*>(header_of(old))) {  // an aligned block: move it
        void* p = malloc(n);
        if (p) {
            std::memcpy(p, old, std::min(n, h.size));
            free(old);
        }
        return p;
    }
    void* base = __libc_realloc(h.base, n + sizeof(Header));
    if (!base) return nullptr;
    account(-static_cast<long long>(h.size));
    return place(base, sizeof(Header), n);
}
void* memalign(std::size_t alignment, std::size_t n) { return aligned(alignment, n); }
void* aligned_alloc(std::size_t alignment, std::size_t n) { return aligned(alignment, n); }
void* valloc(std::size_t n) { return aligned(4096, n); }
void* pvalloc(std::size_t n) { return aligned(4096, (n + 4095) / 4096 * 4096); }
int posix_memalign(void** out, std::size_t alignment, std::size_t n) {
    void* p = aligned(alignment, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
std::size_t malloc_usable_size(void* p) { return p ? header_of(p)->size : 0; }
}

namespace {

class SilentReporter : public halvern::Reporter {
public:
    int boxes = 0;
    void message_box(const QString&, const QString&) override { ++boxes; }
    bool question(const QString&, const QString&) override { return false; }
    void show_status(int, const QString&) override {}
    void yield() override {}
    void pause(int) override {}
};

struct TestFile {
    std::string name;   // e.g. "S3-32"
    char type;          // '1', '2' or '3'
    int record_bytes;   // data bytes per record
    long image_bytes;   // bytes of the image
    std::string path;
};

QString g_dir;  // where the test files are
std::vector<TestFile> g_files;

// Writes image_bytes bytes of a fixed pattern from address 0 as records of the given type
// and size, with a header record and the matching end record, lines ending in CR LF.
void write_records(TestFile& f) {
    static const char* hex = "0123456789ABCDEF";
    const int address_bytes = f.type - '0' + 1;
    std::string text = "S00600004844521B\r\n";
    text.reserve(static_cast<std::size_t>(f.image_bytes / f.record_bytes + 2) *
                 static_cast<std::size_t>(4 + 2 * (address_bytes + f.record_bytes + 1) + 2));
    auto put = [&](unsigned b) { text += hex[(b >> 4) & 15]; text += hex[b & 15]; };
    for (long at = 0; at < f.image_bytes; at += f.record_bytes) {
        const int n = static_cast<int>(std::min<long>(f.record_bytes, f.image_bytes - at));
        const unsigned count = static_cast<unsigned>(address_bytes + n + 1);
        unsigned sum = count;
        text += 'S';
        text += f.type;
        put(count);
        for (int k = address_bytes - 1; k >= 0; --k) {
            const unsigned b = static_cast<unsigned>((at >> (8 * k)) & 0xFF);
            sum += b;
            put(b);
        }
        for (int k = 0; k < n; ++k) {
            const unsigned b = static_cast<unsigned>(((at + k) * 7 + (at + k) / 251) & 0xFF);
            sum += b;
            put(b);
        }
        put(~sum & 0xFF);
        text += "\r\n";
    }
    text += f.type == '1' ? "S9030000FC\r\n" : f.type == '2' ? "S804000000FB\r\n" : "S70500000000FA\r\n";
    f.path = QDir(g_dir).filePath(QString::fromStdString(f.name + ".mot")).toStdString();
    std::ofstream(f.path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

double process_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

long file_size(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return static_cast<long>(in.tellg());
}

void read_with_reader(benchmark::State& state, const TestFile* f) {
    const QString dir = g_dir;
    const QString name = QString::fromStdString(f->name + ".mot");
    halvern::ImageBuffer image(static_cast<std::size_t>(halvern::kImageBufferSize), 0);  // as the transfer allocates it
    long long peak = 0;
    for (auto _ : state) {
        SilentReporter reporter;
        const long long before = g_live.load();
        g_peak.store(before);
        const double t0 = process_cpu_seconds();
        const bool ok = halvern::read_motorola_file(name, dir, image, 0, halvern::kImageBufferSize - 1, reporter);
        state.SetIterationTime(process_cpu_seconds() - t0);
        // The image buffer belongs to the caller and is already allocated: the reader's own
        // peak comes on top of it, so it is added back for "file + image buffer".
        peak = std::max(peak, g_peak.load() - before + halvern::kImageBufferSize);
        if (!ok || reporter.boxes) state.SkipWithError("the reader refused the file");
        benchmark::DoNotOptimize(image.data());
    }
    state.counters["file_bytes"] = static_cast<double>(file_size(f->path));
    state.counters["peak_bytes"] = static_cast<double>(peak);
}

// One whole run of a tool: its CPU (user + system). Its peak resident set cannot be taken
// here (a child started from this process inherits this process's high-water mark);
// bench/suites/10-reader.sh takes it with /usr/bin/time.
void run_tool(benchmark::State& state, const std::vector<std::string>& argv) {
    for (auto _ : state) {
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
            state.SkipWithError("cannot start the tool");
            break;
        }
        int status = 0;
        rusage usage{};
        wait4(pid, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the tool failed");
            break;
        }
        state.SetIterationTime(static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    const bool write_only = argc == 3 && std::string(argv[1]) == "--write-only";
    g_dir = write_only ? QString::fromLocal8Bit(argv[2]) : dir.path();
    for (char type : {'1', '2', '3'})
        for (int size : {16, 32, 64})
            g_files.push_back({std::string("S") + type + "-" + std::to_string(size), type, size,
                               type == '1' ? 65536L : 1048576L, {}});
    for (TestFile& f : g_files) write_records(f);
    if (write_only) return 0;

    const std::string out = QDir(g_dir).filePath("out.bin").toStdString();
    for (const TestFile& f : g_files) {
        benchmark::RegisterBenchmark(("reader/" + f.name).c_str(), read_with_reader, &f)->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("objcopy/" + f.name).c_str(), run_tool,
                                     std::vector<std::string>{"objcopy", "-I", "srec", "-O", "binary", f.path, out})
            ->UseManualTime()->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("srec_cat/" + f.name).c_str(), run_tool,
                                     std::vector<std::string>{"srec_cat", f.path, "-o", out, "-binary"})
            ->UseManualTime()->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
