#include "test_support.h"
#include <zlib.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>
#include "platform/native_path.h"

namespace fs = std::filesystem;

namespace upktest {

plat::WString WinPath(const std::string& native) { return plat::FromNativePath(native); }

std::string NativePath(plat::WStringView path) { return plat::ToNativePath(path); }

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  fs::path root = (base != nullptr && *base != '\0') ? fs::path(base) : fs::path("/tmp");
  std::random_device rd;
  std::mt19937_64 gen((static_cast<uint64_t>(rd()) << 32) ^ rd());
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[40];
    std::snprintf(name, sizeof name, "upk-test-%016llx",
                  static_cast<unsigned long long>(gen()));
    fs::path candidate = root / name;
    std::error_code ec;
    if (fs::create_directory(candidate, ec) && !ec) {
      m_path = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory under " + root.string());
}

plat::WString TempDir::WinPath(const std::string& name) const {
  return upktest::WinPath(name.empty() ? m_path : Path(name));
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only files or directories behind; make them
  // removable first.
  for (auto it = fs::recursive_directory_iterator(m_path, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(m_path, ec);
}

std::string TempDir::Path(const std::string& name) const { return m_path + "/" + name; }

int RunCommand(const std::string& cmdline, std::string* output) {
  std::fflush(nullptr);
  FILE* pipe = popen(cmdline.c_str(), "r");
  if (pipe == nullptr) return -1;
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  int status = pclose(pipe);
  if (output != nullptr) *output = std::move(text);
  if (status == -1 || (status & 0x7f) != 0) return -1;
  return (status >> 8) & 0xff;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

void WriteFile(const std::string& path, const std::string& bytes) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::string MakeTextLikeData(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  // A vocabulary of made-up words drawn with a skewed frequency, like prose.
  std::vector<std::string> words;
  for (int i = 0; i < 1500; ++i) {
    std::string w;
    size_t len = 2 + gen() % 8;
    for (size_t j = 0; j < len; ++j) w += static_cast<char>('a' + gen() % 26);
    words.push_back(w);
  }
  std::string text;
  text.reserve(size + 16);
  size_t sinceLine = 0;
  while (text.size() < size) {
    size_t r = gen() % words.size();
    size_t pick = (r * (gen() % words.size())) / words.size();  // favours small indices
    text += words[pick];
    sinceLine += words[pick].size() + 1;
    if (sinceLine > 70) {
      text += ".\n";
      sinceLine = 0;
    } else {
      text += ' ';
    }
  }
  text.resize(size);
  return text;
}

std::string MakeRandomData(size_t size, uint32_t seed) {
  std::mt19937 gen(seed);
  std::string data(size, '\0');
  for (char& c : data) c = static_cast<char>(gen() & 0xff);
  return data;
}

uint32_t Crc32(const std::string& bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  size_t done = 0;
  while (done < bytes.size()) {
    uInt chunk = static_cast<uInt>(std::min<size_t>(bytes.size() - done, 1u << 30));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.data() + done), chunk);
    done += chunk;
  }
  return static_cast<uint32_t>(crc);
}

std::string BuildDir() {
  if (const char* dir = std::getenv("UPK_BUILD_DIR"); dir != nullptr && *dir != '\0') return dir;
  // Run by hand: the test programs live in BUILD/bin.
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return exe.parent_path().parent_path().string();
}

std::string BuiltProgram(const std::string& name) {
  std::string dir = BuildDir();
  return dir.empty() ? std::string() : dir + "/bin/" + name;
}

}  // namespace upktest
