#pragma once

#include "Entry.h"
#include "FileIdentity.h"
#include "SaveResult.h"

#include <QString>

#include <span>
#include <vector>

class CipherService;
namespace PairFiles {
class StagedFile;
}

// The link file written anew from the list: record i holds entry i, its title, address and user
// name encrypted under the master password, its password's cipher text copied as stored (never
// decrypted). An empty list leaves no link file. A failure leaves the previous file whole; so
// does a file that is not the one expected, or a master password file beside it that is not
// (changedOnDisk).
SaveResult SaveListToLinkFile(const QString& linkFilePath, const std::vector<Entry>& entries,
                              QByteArrayView masterPassword, CipherService& cipher,
                              const ExpectedLinkFile& expected = {});
// The same for entries that stay where they are, in a new order: a long list is not copied.
SaveResult SaveListToLinkFile(const QString& linkFilePath, std::span<const Entry* const> entries,
                              QByteArrayView masterPassword, CipherService& cipher,
                              const ExpectedLinkFile& expected = {});

// The same records, for a link file that a pair replacement puts in place. A failure of the
// staged file itself shows when it is finished.
SaveResult stageList(PairFiles::StagedFile& staged, const std::vector<Entry>& entries,
                     QByteArrayView masterPassword, CipherService& cipher);

// The pair of a directory (QuiFil.ini, QuiURL.dab) re-encrypted under a new password, as a unit:
// a new master password file for newPassword carrying checkValue, and every record of the link
// file, when there is one with content, decrypted under oldPassword and encrypted under
// newPassword. The records are streamed; the pair on disk is all old or all new. With expected
// set, a pair that is no longer that one is left as it is (changedOnDisk).
SaveResult reencryptPair(const QString& directory, QByteArrayView oldPassword,
                         QByteArrayView newPassword, QByteArrayView checkValue,
                         CipherService& cipher, const std::optional<PairIdentity>& expected = {});
