// signature.cpp - signed bundles on OpenSSL's libcrypto: the keyring's
// trust rules, the one-pass check of a bundle against every trusted key
// while it is copied where the run unpacks it, the diagnosis of a failed
// check, key fingerprints, and signing for the bundle builder.
#include "signature.h"

#include <errno.h>
#include <fcntl.h>
#include <glob.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "maint.h"
#include "owned.h"

namespace {

struct FreeKey {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct FreeMdCtx {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct FreeKeyCtx {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, FreeKey>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, FreeMdCtx>;
using KeyCtx = std::unique_ptr<EVP_PKEY_CTX, FreeKeyCtx>;

// A file descriptor closed when its scope ends.
struct Fd {
  int fd;
  explicit Fd(int d) : fd(d) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

const size_t BLOCK = 1 << 20;
// Far above any signature of an accepted key (RSA-16384 makes 2048 bytes).
const size_t MAX_SIGNATURE = 4096;

struct TrustedKey {
  std::string file;
  Key key;
  MdCtx ctx;  // the check of this key, fed block by block
};

std::string sslError() {
  char text[256] = "unknown error";
  unsigned long e = ERR_get_error();
  if (e) ERR_error_string_n(e, text, sizeof text);
  ERR_clear_error();
  return text;
}

// RSA of 2048 bits or more, or ECDSA on P-256 or P-384.
bool acceptedKind(EVP_PKEY* key) {
  if (EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA) return EVP_PKEY_get_bits(key) >= 2048;
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) return false;
  char curve[64] = "";
  size_t len = 0;
  if (!EVP_PKEY_get_utf8_string_param(key, "group", curve, sizeof curve, &len)) return false;
  return strcmp(curve, "prime256v1") == 0 || strcmp(curve, "secp384r1") == 0;
}

// SHA-256 of the key's DER public key info, in hexadecimal: what
// `openssl pkey -pubin -in KEY.pem -outform DER | sha256sum` prints.
std::string fingerprint(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  int len = i2d_PUBKEY(key, &der);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  bool ok =
      len > 0 && EVP_Digest(der, static_cast<size_t>(len), digest, &size, EVP_sha256(), nullptr);
  OPENSSL_free(der);
  std::string hex;
  for (unsigned int i = 0; ok && i < size; ++i) {
    char two[3];
    snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return ok ? hex : "(unknown)";
}

bool rootsAlone(const struct stat& st) { return st.st_uid == 0 && (st.st_mode & 022) == 0; }

// The usable keys of the keyring into `keys`: -1 when the keyring cannot be
// trusted (refused with a message), otherwise the number of *.pem files.
int loadKeyring(const char* keyDir, std::vector<TrustedKey>& keys) {
  struct stat st;
  if (lstat(keyDir, &st) != 0) {
    if (errno == ENOENT) return 0;
    st.st_mode = 0;
  }
  if (!S_ISDIR(st.st_mode) || !rootsAlone(st)) {
    logAndConsole('E',
                  "Fatal error: The keyring %s is not a directory that root owns and only root "
                  "may write. Every bundle is refused.",
                  keyDir);
    return -1;
  }
  std::string pattern = std::string(keyDir) + "/*.pem";
  glob_t found;
  int rc = glob(pattern.c_str(), GLOB_ERR, nullptr, &found);
  if (rc != 0 && rc != GLOB_NOMATCH) {
    // A keyring that cannot be listed must not pass for an empty one.
    globfree(&found);
    logAndConsole('E', "Fatal error: The keyring %s cannot be read. Every bundle is refused.",
                  keyDir);
    return -1;
  }
  int files = rc == 0 ? static_cast<int>(found.gl_pathc) : 0;
  for (int i = 0; i < files; ++i) {
    const char* path = found.gl_pathv[i];
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !rootsAlone(st)) {
      if (fd >= 0) close(fd);
      logAndConsole('E',
                    "Fatal error: The key file %s is not a regular file that root owns and only "
                    "root may write. Every bundle is refused.",
                    path);
      globfree(&found);
      return -1;
    }
    OwnedFile f(fdopen(fd, "r"));
    Key key(f ? PEM_read_PUBKEY(f.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!f) close(fd);
    if (!key) {
      logOnly("", "Key file %s holds no public key that can be read: skipped (%s).", path,
              sslError().c_str());
    } else if (!acceptedKind(key.get())) {
      logOnly("",
              "Key file %s holds a key of a kind not accepted (RSA of 2048 bits or more, "
              "ECDSA on P-256 or P-384): skipped.",
              path);
    } else {
      keys.push_back(TrustedKey{path, std::move(key), MdCtx(EVP_MD_CTX_new())});
    }
  }
  globfree(&found);
  return files;
}

// The signature file's bytes into `sig`; false after a refusal.
bool readSignature(const char* bundle, const std::string& path, std::string& sig) {
  Fd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK));
  if (fd.fd < 0 && errno == ENOENT) {
    logAndConsole('E', "Fatal error: The bundle %s has no signature file %s.", bundle,
                  path.c_str());
    return false;
  }
  char buf[MAX_SIGNATURE + 1];
  ssize_t n = fd.fd < 0 ? -1 : read(fd.fd, buf, sizeof buf);
  if (n < 0) {
    logAndConsole('E', "Fatal error: The signature file %s cannot be read.", path.c_str(),
                  strerror(errno));
    return false;
  }
  sig.assign(buf, static_cast<size_t>(n));
  return true;
}

// True when `sig` has the form of a signature by `key`: an RSA key's
// length, or one DER-encoded ECDSA value.
bool signatureFits(EVP_PKEY* key, const std::string& sig) {
  if (EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA) {
    return sig.size() == static_cast<size_t>(EVP_PKEY_get_size(key));
  }
  const unsigned char* p = reinterpret_cast<const unsigned char*>(sig.data());
  ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(sig.size()));
  bool whole = parsed && p == reinterpret_cast<const unsigned char*>(sig.data()) + sig.size();
  ECDSA_SIG_free(parsed);
  return whole;
}

// True when the RSA `key` made `sig` over some SHA-256 digest: its
// padding and digest header recover under the key.
bool madeBy(EVP_PKEY* key, const std::string& sig) {
  if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA || !signatureFits(key, sig)) return false;
  KeyCtx ctx(EVP_PKEY_CTX_new(key, nullptr));
  unsigned char digest[MAX_SIGNATURE];
  size_t len = sizeof digest;
  bool made =
      ctx && EVP_PKEY_verify_recover_init(ctx.get()) > 0 &&
      EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) > 0 &&
      EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) > 0 &&
      EVP_PKEY_verify_recover(ctx.get(), digest, &len,
                              reinterpret_cast<const unsigned char*>(sig.data()), sig.size()) > 0;
  ERR_clear_error();
  return made;
}

// Reads `bundle` once, feeding every key's check and writing `copy`; false
// after a refusal.
bool streamBundle(const char* bundle, const char* copy, std::vector<TrustedKey>& keys) {
  // Not blocking on a fifo put in the bundle's place.
  Fd in(open(bundle, O_RDONLY | O_NONBLOCK));
  struct stat st;
  if (in.fd < 0 || fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    logAndConsole('E', "Fatal error: The bundle %s cannot be read.", bundle,
                  in.fd < 0 ? strerror(errno) : "not a regular file");
    return false;
  }
  Fd out(open(copy, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600));
  std::vector<unsigned char> block(BLOCK);
  ssize_t n = 0;
  while (out.fd >= 0 && (n = read(in.fd, block.data(), block.size())) > 0) {
    for (TrustedKey& k : keys)
      EVP_DigestVerifyUpdate(k.ctx.get(), block.data(), static_cast<size_t>(n));
    for (ssize_t done = 0, w = 0; done < n; done += w) {
      w = write(out.fd, block.data() + done, static_cast<size_t>(n - done));
      if (w <= 0) {
        logAndConsole('E', "Fatal error: Unable to write %s.", copy,
                      strerror(w < 0 ? errno : ENOSPC));
        return false;
      }
    }
  }
  if (out.fd < 0 || close(out.fd) != 0) {
    out.fd = -1;
    logAndConsole('E', "Fatal error: Unable to write %s.", copy, strerror(errno));
    return false;
  }
  out.fd = -1;
  if (n < 0) {
    logAndConsole('E', "Fatal error: The bundle %s cannot be read.", bundle, strerror(errno));
    return false;
  }
  return true;
}

// Which key signed: the index in `keys`, or -1 after a refusal.
int verifySignature(const char* bundle, const char* copy, const std::string& sigPath,
                    std::vector<TrustedKey>& keys) {
  std::string sig;
  if (!readSignature(bundle, sigPath, sig)) return -1;
  bool fits = false;
  for (const TrustedKey& k : keys) fits = fits || signatureFits(k.key.get(), sig);
  if (!fits || sig.size() > MAX_SIGNATURE) {
    logAndConsole('E',
                  "Fatal error: The signature file %s is not a signature that a key of the "
                  "keyring could have made.",
                  sigPath.c_str());
    return -1;
  }
  for (TrustedKey& k : keys) {
    if (!k.ctx || !EVP_DigestVerifyInit(k.ctx.get(), nullptr, EVP_sha256(), nullptr, k.key.get())) {
      logAndConsole('E', "Fatal error: The key %s cannot be used.", k.file.c_str(),
                    sslError().c_str());
      return -1;
    }
  }
  if (!streamBundle(bundle, copy, keys)) return -1;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(sig.data());
  for (size_t i = 0; i < keys.size(); ++i) {
    if (EVP_DigestVerifyFinal(keys[i].ctx.get(), bytes, sig.size()) == 1)
      return static_cast<int>(i);
  }
  ERR_clear_error();
  for (const TrustedKey& k : keys) {
    if (!madeBy(k.key.get(), sig)) continue;
    logAndConsole('E', "Fatal error: The bundle %s was changed after key %s signed it.", bundle,
                  k.file.c_str());
    return -1;
  }
  logAndConsole('E', "Fatal error: No key of the keyring verifies the signature %s of bundle %s.",
                sigPath.c_str(), bundle);
  return -1;
}

// A private key from `keyFile`, or null with *error set.  Keys protected by
// a passphrase are refused rather than prompted for.
Key loadSigningKey(const char* keyFile, std::string* error) {
  OwnedFile f(fopen(keyFile, "r"));
  if (!f) {
    *error = strerror(errno);
    return nullptr;
  }
  auto noPassphrase = [](char*, int, int, void*) { return 0; };
  Key key(PEM_read_PrivateKey(f.get(), nullptr, noPassphrase, nullptr));
  if (!key) {
    *error = sslError();
  } else if (!acceptedKind(key.get())) {
    *error = "Not an RSA key of 2048 bits or more, nor an ECDSA key on P-256 or P-384";
    key.reset();
  }
  return key;
}

bool writeFile(const char* path, const std::string& bytes, std::string* error) {
  OwnedFile f(fopen(path, "w"));
  bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
  if (f && fclose(f.release()) != 0) ok = false;
  if (!ok) *error = std::string(path) + ": " + strerror(errno);
  return ok;
}

}  // namespace

BundleTrust checkBundle(const char* keyDir, const char* bundle, const char* copy) {
  methodTrace trace("checkBundle");
  std::vector<TrustedKey> keys;
  int files = loadKeyring(keyDir, keys);
  if (files < 0) return BUNDLE_REFUSED;
  if (files == 0) {
    logOnly("", "Bundle authenticity was not checked: there is no key file (*.pem) in %s.", keyDir);
    return BUNDLE_UNCHECKED;
  }
  if (keys.empty()) {
    logAndConsole('E', "Fatal error: The keyring %s holds no usable key. Every bundle is refused.",
                  keyDir);
    return BUNDLE_REFUSED;
  }
  std::string sigPath = std::string(bundle) + SIGNATURE_SUFFIX;
  int signer = verifySignature(bundle, copy, sigPath, keys);
  if (signer < 0) {
    unlink(copy);
    return BUNDLE_REFUSED;
  }
  const TrustedKey& k = keys[static_cast<size_t>(signer)];
  logOnly("", "Signature %s verified with key %s.", sigPath.c_str(), k.file.c_str());
  logOnly("",
          "Key fingerprint (SHA-256 of the DER public key) = %s; by hand: openssl pkey -pubin "
          "-in %s -outform DER | sha256sum",
          fingerprint(k.key.get()).c_str(), k.file.c_str());
  return BUNDLE_VERIFIED;
}

bool signingKeyUsable(const char* keyFile, std::string* error) {
  return loadSigningKey(keyFile, error) != nullptr;
}

bool signFile(const char* keyFile, const char* file, const char* sigFile, const char* publicFile,
              std::string* error) {
  Key key = loadSigningKey(keyFile, error);
  if (!key) return false;
  MdCtx ctx(EVP_MD_CTX_new());
  Fd in(open(file, O_RDONLY));
  if (in.fd < 0) {
    *error = std::string(file) + ": " + strerror(errno);
    return false;
  }
  bool ok = ctx && EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) > 0;
  std::vector<unsigned char> block(BLOCK);
  ssize_t n = 0;
  while (ok && (n = read(in.fd, block.data(), block.size())) > 0) {
    ok = EVP_DigestSignUpdate(ctx.get(), block.data(), static_cast<size_t>(n)) > 0;
  }
  size_t len = 0;
  ok = ok && n == 0 && EVP_DigestSignFinal(ctx.get(), nullptr, &len) > 0;
  std::string sig(len, '\0');
  ok = ok && EVP_DigestSignFinal(ctx.get(), reinterpret_cast<unsigned char*>(&sig[0]), &len) > 0;
  if (!ok) {
    *error = n < 0 ? std::string(file) + ": " + strerror(errno) : sslError();
    return false;
  }
  sig.resize(len);
  if (!writeFile(sigFile, sig, error)) return false;
  OwnedFile pub(fopen(publicFile, "w"));
  ok = pub && PEM_write_PUBKEY(pub.get(), key.get()) > 0;
  if (pub && fclose(pub.release()) != 0) ok = false;
  if (!ok) *error = std::string(publicFile) + ": cannot be written";
  return ok;
}
