#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "console/children.h"
#include "console/receiver.h"
#include "posix/posix.h"
#include "posix/trace.h"

namespace {

// The decoder itself goes by the name: "C.UTF-8", "de_DE.utf8".
bool NamesUtf8(const char* locale) {
  return strcasestr(locale, "utf-8") != nullptr || strcasestr(locale, "utf8") != nullptr;
}

// A locale variable's value; unset and empty are the same to the C library.
const char* LocaleVariable(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && *value != '\0' ? value : nullptr;
}

}  // namespace

ReceiverProcess::ReceiverProcess(int lineFd, std::string serport)
    : lineFd_(lineFd), serport_(std::move(serport)) {}

ReceiverProcess::~ReceiverProcess() {
  for (int fd : {lineFd_, commIn_, commOut_})
    if (fd >= 0) close(fd);
}

bool ReceiverProcess::CreatePipe() {
  int comm[2];
  if (!MakePipe(comm)) {
    Trace("Unable to create comm pipe!\n\n");
    return false;
  }
  commIn_ = comm[0];
  commOut_ = comm[1];
  SetNonBlocking(commIn_);
  return true;
}

bool ReceiverProcess::Start() {
  ChildSetup setup;
  setup.keep = {lineFd_, commOut_};
  const pid_t pid = process_.Start(setup);
  if (pid < 0) {
    Trace("Unable to create RX process!\n\n");
    return false;
  }
  if (pid == 0) {
    // Keys typed at the player's terminal are the player's to act on, and a
    // trace to a closed output must not end the receiver.
    signal(SIGINT, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    RunReceiver(lineFd_, commOut_, serport_);
  }
  return true;
}

void UseUtf8CharacterType() {
  const char* all = LocaleVariable("LC_ALL");
  const char* effective = all;
  if (effective == nullptr) effective = LocaleVariable("LC_CTYPE");
  if (effective == nullptr) effective = LocaleVariable("LANG");
  if (effective != nullptr && NamesUtf8(effective)) return;
  if (all != nullptr) {
    // LC_ALL would override the character type too; its value moves to LANG
    // and over any category of its own that it used to hide, so that every
    // other category stays as it was (the decoder's numbers among them).
    const std::string value = all;
    static const char* const kCategories[] = {
        "LC_NUMERIC", "LC_TIME",  "LC_COLLATE", "LC_MONETARY",   "LC_MESSAGES",   "LC_PAPER",
        "LC_NAME",    "LC_ADDRESS", "LC_TELEPHONE", "LC_MEASUREMENT", "LC_IDENTIFICATION"};
    for (const char* category : kCategories)
      if (LocaleVariable(category) != nullptr) setenv(category, value.c_str(), 1);
    setenv("LANG", value.c_str(), 1);
    unsetenv("LC_ALL");
  }
  setenv("LC_CTYPE", "C.UTF-8", 1);
}

