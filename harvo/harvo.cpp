// harvo: copies one file from a web server to a local path and exits.
//   harvo HOST REMOTE_PATH LOCAL_FILE HWND MESSAGE_NUMBER
// The caller learns the outcome only from the local file: present and
// non-empty, or absent. The exit code is 0 in every case.
#include <curl/curl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

// Message boxes of this console program go to standard error.
void MessageBox(const std::string& text, const char* caption) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  std::fprintf(stderr, "%s: %s\n", caption, t.c_str());
}

unsigned long ToNumber(const char* s) { return static_cast<unsigned long>(std::strtol(s, nullptr, 10)); }

struct Download {
  std::FILE* out = nullptr;
  bool firstResponse = true;
  bool writeFailed = false;
  int writeErrno = 0;
  std::string status;  // progress text; not shown anywhere
};

// The local file is deleted only while its path still names the file this
// program created: the caller stops waiting after a fixed time and may by
// then have put its previous file back under that name.
struct FileId {
  bool known = false;
  dev_t dev = 0;
  ino_t ino = 0;
};

FileId IdOf(std::FILE* f) {
  struct stat st {};
  if (fstat(fileno(f), &st) != 0) return {};
  return {true, st.st_dev, st.st_ino};
}

void RemoveIfOurs(const FileId& id, const char* local) {
  struct stat st {};
  if (id.known && stat(local, &st) == 0 && st.st_dev == id.dev && st.st_ino == id.ino) std::remove(local);
}

void CloseAndRemove(std::FILE* out, const char* local) {
  FileId id = IdOf(out);
  std::fclose(out);
  RemoveIfOurs(id, local);
}

size_t OnHeader(char* data, size_t size, size_t n, void* user) {
  auto* d = static_cast<Download*>(user);
  if (d->firstResponse) {
    d->firstResponse = false;
    // The address is open: the fixed pauses before reading.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  (void)data;
  return size * n;
}

size_t OnBody(char* data, size_t size, size_t n, void* user) {
  auto* d = static_cast<Download*>(user);
  size_t total = size * n;
  // At most 1024 bytes per write, as they arrive.
  size_t done = 0;
  while (done < total) {
    size_t chunk = std::min<size_t>(1024, total - done);
    if (std::fwrite(data + done, 1, chunk, d->out) != chunk) {
      d->writeFailed = true;
      d->writeErrno = errno;
      return 0;  // makes curl stop
    }
    done += chunk;
  }
  return total;
}

void Run(const char* host, const char* remote, const char* local) {
  CURL* curl = curl_easy_init();
  if (!curl) {
    MessageBox("Connection error...", "Error");
    return;
  }
  std::string url = std::string("http://") + host + "/" + remote;
  Download d;
  d.out = std::fopen(local, "wb");
  if (!d.out) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "non posso creare %s:\nError = %u\n", local, static_cast<unsigned>(errno));
    MessageBox(buf, "Error");
    curl_easy_cleanup(curl);
    return;
  }
  d.status = "Opening connection: " + url;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "Retrieve http");
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
  // A server that stops sending must not hold the program for ever.
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &d);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &d);
  CURLcode rc = curl_easy_perform(curl);
  long code = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
  if (rc != CURLE_OK && code == 0 && !d.writeFailed) {
    // The address could not be opened at all.
    CloseAndRemove(d.out, local);
    char buf[1024];
    std::snprintf(buf, sizeof buf, "Internet Session for %s failed'\n", url.c_str());
    MessageBox(buf, "Internet connection error");
  } else if (d.writeFailed) {
    // A partial download is no use to anybody: leave no file behind.
    CloseAndRemove(d.out, local);
    char buf[512];
    std::snprintf(buf, sizeof buf, "non posso scrivere %s:\nError = %u\n", local, static_cast<unsigned>(d.writeErrno));
    MessageBox(buf, "Error");
  } else {
    // Success, or a transfer broken after the server answered: the file
    // stays as far as it was written and the status is not examined.
    d.status = std::string("Reading: ") + remote;
    FileId id = IdOf(d.out);
    if (std::fclose(d.out) != 0) {
      RemoveIfOurs(id, local);
      MessageBox(std::string("non posso scrivere ") + local, "Error");
    }
    d.status = "Closing connection";
  }
  curl_easy_cleanup(curl);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::printf("bad param\n");
    return 0;
  }
  unsigned long hwnd = ToNumber(argv[4]);
  unsigned long message = ToNumber(argv[5]);
  std::printf("hwndToSend=%lu\nUpdateProgressBar=%lu\n", hwnd, message);
  std::fflush(stdout);
  curl_global_init(CURL_GLOBAL_DEFAULT);
  Run(argv[1], argv[2], argv[3]);
  curl_global_cleanup();
  std::printf("Exit from procedure\n");
  return 0;
}
