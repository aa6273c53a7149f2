// compress SOURCE TARGET: writes the gzip form (RFC 1952, zlib's best
// compression) of SOURCE to TARGET, so "gunzip -c TARGET" gives SOURCE back.
// TARGET is replaced atomically: it holds either its old content or the
// whole compressed form, never a part. A TARGET that is SOURCE itself (under
// any name) is refused, since it would replace the file with its own gzip
// form. On failure a message goes to standard error and the exit code is 1
// (2 for a wrong command line).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr int kGzipWindowBits = 15 + 16;  // 32 KiB window, gzip header and trailer

struct Failure {
    std::string what;
};

ssize_t ReadSome(int fd, unsigned char* buffer, size_t size) {
    ssize_t n;
    do n = ::read(fd, buffer, size);
    while (n < 0 && errno == EINTR);
    if (n < 0) throw Failure{"cannot read the source: " + std::string(std::strerror(errno))};
    return n;
}

void WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw Failure{"cannot write the target: " + std::string(std::strerror(errno))};
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Deflates everything readable from `in` into `out`.
void Deflate(int in, int out) {
    z_stream zs{};
    if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        throw Failure{"zlib cannot start"};
    unsigned char input[kChunk], output[kChunk];
    int flush = Z_NO_FLUSH;
    try {
        while (flush != Z_FINISH) {
            ssize_t n = ReadSome(in, input, sizeof input);
            flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
            zs.next_in = input;
            zs.avail_in = static_cast<uInt>(n);
            do {
                zs.next_out = output;
                zs.avail_out = sizeof output;
                deflate(&zs, flush);
                WriteAll(out, output, sizeof output - zs.avail_out);
            } while (zs.avail_out == 0);
        }
    } catch (...) {
        deflateEnd(&zs);
        throw;
    }
    deflateEnd(&zs);
}

bool IsSameFile(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

void Compress(const std::string& source, const std::string& target) {
    int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw Failure{"cannot open the source: " + std::string(std::strerror(errno))};
    if (IsSameFile(in, target)) {
        ::close(in);
        throw Failure{"the target is the source"};
    }
    std::string part = target + ".compress-" + std::to_string(::getpid());
    int out = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
        ::close(in);
        throw Failure{"cannot create the target: " + std::string(std::strerror(errno))};
    }
    try {
        Deflate(in, out);
        if (::fsync(out) != 0 || ::close(out) != 0)
            throw Failure{"cannot write the target: " + std::string(std::strerror(errno))};
        out = -1;
        if (::rename(part.c_str(), target.c_str()) != 0)
            throw Failure{"cannot replace the target: " + std::string(std::strerror(errno))};
    } catch (...) {
        if (out >= 0) ::close(out);
        ::close(in);
        ::unlink(part.c_str());
        throw;
    }
    ::close(in);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: compress SOURCE TARGET\n");
        return 2;
    }
    try {
        Compress(argv[1], argv[2]);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "compress: %s: %s\n", argv[1], failure.what.c_str());
        return 1;
    }
    return 0;
}
