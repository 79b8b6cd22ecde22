// signature.h - signed bundles: the keyring of trusted public keys, the
// check of a bundle's detached signature (SHA-256 with an RSA or ECDSA key,
// the bytes `openssl dgst -sha256 -sign KEY -out BUNDLE.sig BUNDLE` writes),
// and the signing that the bundle builder does.  Every cryptographic step is
// OpenSSL's libcrypto.
#ifndef DELTAMAINT_SIGNATURE_H
#define DELTAMAINT_SIGNATURE_H

#include <string>

// The keyring: one public key in PEM form per *.pem file.
constexpr const char* KEYRING_DIR = "/etc/maint/keys";
// A bundle's signature lies beside it: the bundle's path followed by this.
constexpr const char* SIGNATURE_SUFFIX = ".sig";

enum BundleTrust {
  BUNDLE_UNCHECKED,  // no keyring, or no *.pem in it: a log note says so
  BUNDLE_VERIFIED,   // `copy` holds exactly the bytes a trusted key signed
  BUNDLE_REFUSED     // the refusal is logged and on the console (severity E)
};

// Checks `bundle` against the keyring `keyDir` and the signature file beside
// the bundle.  The bundle is read once, in blocks, and every block read is
// also written to `copy` (a new file, mode 0600), so that what is unpacked
// afterwards is what was verified, whatever happens to the bundle's path.
// A keyring or key file that is not root's alone refuses every bundle; a
// key file that holds no accepted key is named in the log and skipped.  No
// copy is left unless the result is BUNDLE_VERIFIED.
BundleTrust checkBundle(const char* keyDir, const char* bundle, const char* copy);

// Loads the private key in `keyFile`; false with *error set when it cannot
// be read or is not of an accepted kind (RSA of 2048 bits or more, ECDSA
// on P-256 or P-384).
bool signingKeyUsable(const char* keyFile, std::string* error);
// Writes the detached signature of `file` made with the private key in
// `keyFile` to `sigFile`, and the matching public key in PEM form to
// `publicFile`; false with *error set on any failure.
bool signFile(const char* keyFile, const char* file, const char* sigFile, const char* publicFile,
              std::string* error);

#endif  // DELTAMAINT_SIGNATURE_H
