// The floor quillor-cli list is set against: what any lister must do, and no more. Reads the link
// file 64 records at a time through one buffer and decrypts every field with the key schedule
// computed once and copied; writes nothing. The master password is the first line of standard
// input, as for quillor-cli.
//   quillor_streaming_floor LINK_FILE

#include "cipher/CipherKey.h"
#include "store/LinkRecord.h"
#include "store/StoredField.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillor_streaming_floor LINK_FILE\n");
        return 2;
    }
    std::string password;
    std::getline(std::cin, password);
    const CipherKey key(QByteArrayView(password.data(), qsizetype(password.size())));
    const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(argv[1]);
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
            std::perror(argv[1]);
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
    // Keeps the decryption from being optimised away.
    [[maybe_unused]] static volatile unsigned sink;
    sink = checksum;
    return 0;
}
