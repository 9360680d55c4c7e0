// systemd's credentials: `systemd-creds encrypt` seals a secret with the TPM where there is
// one, else with the host's key in /var/lib/systemd; the unit's LoadCredentialEncrypted= has
// the service manager decrypt it at every start into a directory only the service sees.
#include "platform/secret_store_posix.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/secret_store.h"
#include "platform/systemd_posix.h"

extern char** environ;

namespace tw {
namespace {

std::string EnvOr(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool ReadWhole(const std::string& path, std::string* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *data = s.str();
  return !in.bad();
}

// A credential written by hand (`echo pw | systemd-creds encrypt ...`) ends in a line break that
// is not part of the password.
void DropLineEnd(std::string* value) {
  if (!value->empty() && value->back() == '\n') value->pop_back();
  if (!value->empty() && value->back() == '\r') value->pop_back();
}

// Runs `args` with `input` on its standard input (never on its command line, where every user
// could read it), its standard output into `*output` and its error output into `*error`.
bool Run(const std::vector<std::string>& args, const std::string& input, std::string* output,
         std::string* error) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) != 0 || ::pipe2(out_pipe, O_CLOEXEC) != 0 ||
      ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;  // only when out of descriptors; the ones made go with the process
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in_pipe[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  if (spawned != 0) {
    ::close(in_pipe[1]);
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    *error = args[0] + ": " + std::strerror(spawned);
    return false;
  }
  // A secret is a few hundred bytes at most: it fits the pipe, so writing it all before reading
  // cannot block against the child's output.
  size_t done = 0;
  while (done < input.size()) {
    const ssize_t n = ::write(in_pipe[1], input.data() + done, input.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(in_pipe[1]);
  char buf[4096];
  for (ssize_t n; (n = ::read(out_pipe[0], buf, sizeof buf)) > 0;) output->append(buf, n);
  ::close(out_pipe[0]);
  std::string err;
  for (ssize_t n; (n = ::read(err_pipe[0], buf, sizeof buf)) > 0;) err.append(buf, n);
  ::close(err_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  while (!err.empty() && (err.back() == '\n' || err.back() == '\r')) err.pop_back();
  *error = args[0] + " " + args[1] + " failed" + (err.empty() ? std::string() : ": " + err);
  return false;
}

bool SystemdRuns() { return !UnitDirectoryRedirected() && Exists("/run/systemd/system"); }

class PosixSecretStore : public SecretStore {
 public:
  Kind kind() const override { return Kind::kCredentials; }

  bool Handed(const std::string& id, std::string* value) override {
    const std::string dir = EnvOr("CREDENTIALS_DIRECTORY", "");
    if (dir.empty() || !ReadWhole(dir + "/" + id, value)) return false;
    DropLineEnd(value);
    return true;
  }

  bool ReadStored(const tCredentialSlot& slot, std::string* value) override {
    // Only root may decrypt with the host's key; anybody else reads the settings file.
    const std::string file = CredentialStoreDirectory() + slot.Name;
    if (::geteuid() != 0 || !Exists(file)) return false;
    std::string error;
    std::string out;
    if (!Run({"systemd-creds", "decrypt", "--name=" + slot.Id, file, "-"}, "", &out, &error)) {
      return false;
    }
    *value = out;
    DropLineEnd(value);
    return true;
  }

  bool Store(const tCredentialSlot& slot, const std::string& value, std::string* where,
             std::string* error) override {
    const std::string dir = CredentialStoreDirectory();
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      *error = dir + ": " + std::strerror(errno);
      return false;
    }
    const std::string file = dir + slot.Name;
    std::vector<std::string> args = {"systemd-creds", "encrypt", "--name=" + slot.Id};
    // The TPM where there is one, else the host key; a test names the host key.
    const std::string key = EnvOr("TEMPWARDEN_CREDS_KEY", "");
    if (!key.empty()) args.push_back("--with-key=" + key);
    args.push_back("-");
    args.push_back(file);
    std::string out;
    if (!Run(args, value, &out, error)) return false;
    ::chmod(file.c_str(), 0600);
    const std::string drop_in = DropInPath(slot.Unit);
    if (!UpdateDropIn(drop_in, slot, true, error)) return false;
    *where = file + " (loaded by " + drop_in + ")";
    return true;
  }

  bool Remove(const tCredentialSlot& slot, bool* found, std::string* where,
              std::string* error) override {
    const std::string file = CredentialStoreDirectory() + slot.Name;
    *found = Exists(file);
    if (*found && ::unlink(file.c_str()) != 0) {
      *error = file + ": " + std::strerror(errno);
      return false;
    }
    const std::string drop_in = DropInPath(slot.Unit);
    if (!UpdateDropIn(drop_in, slot, false, error)) return false;
    *where = file;
    return true;
  }

  bool Seal(const std::string&, const std::string&, std::string*, std::string* error) override {
    *error = "DPAPI exists on Windows only; on Linux the secret becomes a systemd credential";
    return false;
  }
  bool Unseal(const std::string&, const std::string&, std::string*) override { return false; }

 private:
  static std::string DropInPath(const std::string& unit) {
    return UnitDirectory() + unit + ".service.d/" + kCredentialDropInName;
  }

  // Adds or takes away the slot's line; the file goes when no line is left, so that a service
  // without stored secrets runs with its unit alone.
  static bool UpdateDropIn(const std::string& path, const tCredentialSlot& slot, bool add,
                           std::string* error) {
    std::string text;
    ReadWhole(path, &text);
    std::vector<std::string> ids = CredentialIdsOfDropIn(text);
    std::vector<std::string> kept;
    for (const std::string& id : ids) {
      if (id != slot.Id) kept.push_back(id);
    }
    if (add) kept.push_back(slot.Id);
    const std::string dir = path.substr(0, path.rfind('/'));
    if (kept.empty()) {
      if (Exists(path) && ::unlink(path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
      }
      ::rmdir(dir.c_str());  // only when nothing else is in it
    } else {
      if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        *error = dir + ": " + std::strerror(errno);
        return false;
      }
      std::ofstream out(path, std::ios::binary | std::ios::trunc);
      const std::string prefix = slot.Name.substr(0, slot.Name.size() - slot.Id.size());
      out << CredentialDropInText(CredentialStoreDirectory(), prefix, kept);
      out.close();
      if (!out) {
        *error = path + ": " + std::strerror(errno);
        return false;
      }
    }
    if (SystemdRuns() && std::system("systemctl daemon-reload >/dev/null 2>&1") != 0) {
      // The drop-in is in place; the next daemon-reload or boot reads it.
    }
    return true;
  }
};

}  // namespace

std::string CredentialStoreDirectory() {
  std::string d = EnvOr("TEMPWARDEN_CREDSTORE_DIR", "/etc/credstore.encrypted");
  if (d.back() != '/') d += '/';
  return d;
}

std::string CredentialDropInText(const std::string& store_dir, const std::string& prefix,
                                 const std::vector<std::string>& ids) {
  std::string text =
      "# Written by \"tempwarden /protect\": the secrets stored for this service, which\n"
      "# systemd decrypts into $CREDENTIALS_DIRECTORY at every start.\n"
      "[Service]\n";
  for (const std::string& id : ids) {
    text += "LoadCredentialEncrypted=" + id + ":" + store_dir + prefix + id + "\n";
  }
  return text;
}

std::vector<std::string> CredentialIdsOfDropIn(const std::string& text) {
  static const char kLine[] = "LoadCredentialEncrypted=";
  std::vector<std::string> ids;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, sizeof kLine - 1, kLine) != 0) continue;
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
      ids.push_back(line.substr(sizeof kLine - 1, colon - (sizeof kLine - 1)));
    }
  }
  return ids;
}

std::unique_ptr<SecretStore> NewSystemSecretStore() { return std::make_unique<PosixSecretStore>(); }

}  // namespace tw
