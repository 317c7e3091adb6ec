// The key pair from OpenSSL, each file created exclusively with its final permissions from the start.
#include "tools/installer_tags/key_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cerrno>
#include <cstring>

#include "base/openssl_objects_posix.h"

namespace isetup::tools {
namespace {

// The PEM text that `write` puts into a memory BIO; empty when it fails.
template <typename Write>
std::string Pem(Write write) {
  const MemoryBio bio(BIO_new(BIO_s_mem()));
  if (!bio) return {};
  std::string text;
  if (write(bio.get()) == 1) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    if (length > 0) text.assign(data, static_cast<std::size_t>(length));
  }
  return text;
}

// Creates `path` with `mode`, refusing an existing one, and writes `text` to it.
std::optional<std::string> CreateWith(const std::string& path, const std::string& text, mode_t mode) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    if (errno == EEXIST) return path + " exists already; a key is never overwritten";
    return "cannot create " + path + ": " + std::strerror(errno);
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    done += static_cast<std::size_t>(count);
  }
  const bool flushed = done == text.size() && fsync(fd) == 0;
  const int error = errno;
  if (close(fd) != 0 || !flushed) {
    unlink(path.c_str());
    return "cannot write " + path + ": " + std::strerror(error);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> WriteKeyPair(const std::string& privatePath, const std::string& publicPath) {
  if (privatePath == publicPath) return "the private and the public key need two different files";
  for (const std::string& path : {privatePath, publicPath}) {
    if (access(path.c_str(), F_OK) == 0) return path + " exists already; a key is never overwritten";
  }
  const EvpKey key(EVP_EC_gen("P-256"));
  if (!key) {
    ERR_clear_error();
    return "OpenSSL could not make a P-256 key";
  }
  const std::string privatePem =
      Pem([&](BIO* bio) { return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr); });
  const std::string publicPem = Pem([&](BIO* bio) { return PEM_write_bio_PUBKEY(bio, key.get()); });
  ERR_clear_error();
  if (privatePem.empty() || publicPem.empty()) return "OpenSSL could not write the key as PEM";

  if (auto problem = CreateWith(privatePath, privatePem, 0600)) return problem;
  if (auto problem = CreateWith(publicPath, publicPem, 0644)) {
    unlink(privatePath.c_str());
    return problem;
  }
  return std::nullopt;
}

}  // namespace isetup::tools
