// The floor quillor-cli list is set against: what any lister must do, and no more. Reads the link
// file 64 records at a time through one buffer and decrypts every field with the key made once,
// as the program's own reader does; writes nothing. The master password is the first line of
// standard input, as for quillor-cli. With --ms it prints the milliseconds from the key schedule to
// the last record: the floor of a load inside a process that is already running.
//   quillor_streaming_floor [--ms] LINK_FILE

#include "cipher/CipherKey.h"
#include "store/LinkRecord.h"
#include "store/StoredField.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const bool printMs = argc == 3 && std::strcmp(argv[1], "--ms") == 0;
    if (argc != 2 && !printMs) {
        std::fprintf(stderr, "usage: quillor_streaming_floor [--ms] LINK_FILE\n");
        return 2;
    }
    const char* path = argv[argc - 1];
    std::string password;
    std::getline(std::cin, password);
    const auto start = std::chrono::steady_clock::now();
    const CipherKey key(QByteArrayView(password.data(), qsizetype(password.size())));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path);
        return 1;
    }
    constexpr std::size_t kBatch = 64;
    std::vector<char> buffer(kBatch * kLinkRecordSize);
    std::array<char, kUrlFieldWidth> field;
    unsigned checksum = 0;
    std::size_t filled = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data() + filled, buffer.size() - filled);
        if (got < 0) {
            std::perror(path);
            return 1;
        }
        filled += std::size_t(got);
        const std::size_t whole = filled / kLinkRecordSize;
        for (std::size_t r = 0; r < whole; ++r) {
            const auto record = decodeLinkRecord(
                QByteArrayView(buffer.data() + r * kLinkRecordSize, kLinkRecordSize));
            if (!record) {
                std::fprintf(stderr, "quillor_streaming_floor: a damaged record\n");
                return 1;
            }
            for (QByteArrayView text :
                 {record->title, record->url, record->userName, record->password}) {
                std::copy(text.begin(), text.end(), field.begin());
                key.cryptInPlace(field.data(), text.size());
                checksum += unsigned(field[0]);
            }
        }
        std::copy(buffer.begin() + qsizetype(whole * kLinkRecordSize),
                  buffer.begin() + qsizetype(filled), buffer.begin());
        filled -= whole * kLinkRecordSize;
        if (got == 0)
            break;
    }
    ::close(fd);
    if (printMs)
        std::printf("%.3f\n", std::chrono::duration<double, std::milli>(
                                  std::chrono::steady_clock::now() - start)
                                  .count());
    // Keeps the decryption from being optimised away.
    [[maybe_unused]] static volatile unsigned sink;
    sink = checksum;
    return 0;
}
