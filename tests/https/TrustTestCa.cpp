// Makes the Wine prefix it runs in trust the tests' own CA, or forget it:
//   trust-test-ca add CA.pem     the CA goes into the machine's Root store
//   trust-test-ca remove CA.pem  every certificate with its subject leaves it
// The prefix is the build tree's, so no other machine or prefix ever trusts
// the CA. The CA is made afresh for each run: older ones of the same subject
// are taken out first, so that they do not pile up in the prefix.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/common/TestBytes.h"

namespace {

// Removes every certificate in store whose subject is that of ca; how many.
int RemoveSameSubject(HCERTSTORE store, PCCERT_CONTEXT ca)
{
    int removed = 0;
    for (;;) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(
            store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME, &ca->pCertInfo->Subject, nullptr);
        if (found == nullptr)
            return removed;
        // Frees found, found or not.
        if (!CertDeleteCertificateFromStore(found))
            return removed;
        ++removed;
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0)) {
        std::fprintf(stderr, "usage: trust-test-ca add|remove CA.pem\n");
        return 2;
    }
    const bool add = std::strcmp(argv[1], "add") == 0;
    std::string pem;
    if (!ReadBytes(argv[2], &pem)) {
        std::fprintf(stderr, "trust-test-ca: cannot read %s\n", argv[2]);
        return 1;
    }
    BYTE der[8192];
    DWORD derSize = sizeof der;
    if (!CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()),
                              CRYPT_STRING_BASE64HEADER, der, &derSize, nullptr, nullptr)) {
        std::fprintf(stderr, "trust-test-ca: %s holds no PEM certificate\n", argv[2]);
        return 1;
    }
    PCCERT_CONTEXT ca = CertCreateCertificateContext(X509_ASN_ENCODING, der, derSize);
    if (ca == nullptr) {
        std::fprintf(stderr, "trust-test-ca: %s is not a certificate\n", argv[2]);
        return 1;
    }
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (root == nullptr) {
        std::fprintf(stderr, "trust-test-ca: cannot open the Root store (error %lu)\n",
                     GetLastError());
        CertFreeCertificateContext(ca);
        return 1;
    }
    const int removed = RemoveSameSubject(root, ca);
    bool done = true;
    if (add)
        done = CertAddCertificateContextToStore(root, ca, CERT_STORE_ADD_NEW, nullptr) != FALSE;
    // Written through now: the store is written back on its last close, and
    // the platform may hold it open beyond ours.
    if (done && !CertControlStore(root, 0, CERT_STORE_CTRL_COMMIT, nullptr)) {
        std::fprintf(stderr, "trust-test-ca: cannot write the Root store (error %lu)\n",
                     GetLastError());
        done = false;
    }
    if (done)
        std::printf("trust-test-ca: %d removed%s\n", removed, add ? ", 1 added" : "");
    else if (add)
        std::fprintf(stderr, "trust-test-ca: cannot add the CA (error %lu)\n", GetLastError());
    CertCloseStore(root, 0);
    CertFreeCertificateContext(ca);
    return done ? 0 : 1;
}
