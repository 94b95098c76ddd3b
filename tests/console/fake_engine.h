// An engine in a test: every action is recorded as a word, and the test
// plays the engine's part by handing the player events.
#pragma once

#include <string>
#include <vector>

#include "console/engine.h"

struct FakeEngine : Engine {
  bool ownList = false;  // a music server's queue rather than the player's list
  bool hasVolume = true;
  bool canStep = true;
  std::vector<std::string> actions;

  const char* Name() const override { return "fake"; }
  bool ListIsItsOwn() const override { return ownList; }
  bool Start() override { return true; }
  std::vector<int> WaitFds() const override { return {}; }
  void Service(EngineEvents&) override {}
  void Load(int entry) override { actions.push_back("load " + std::to_string(entry)); }
  void Play() override { actions.push_back("play"); }
  void TogglePause() override { actions.push_back("pause"); }
  void Stop() override { actions.push_back("stop"); }
  void JumpFrames(int frames) override { actions.push_back("jump " + std::to_string(frames)); }
  void SeekTo(double seconds) override {
    actions.push_back("seek " + std::to_string(static_cast<int>(seconds)));
  }
  bool Step(int by) override {
    actions.push_back("step " + std::to_string(by));
    return canStep;
  }
  bool SetVolume(int volume) override {
    actions.push_back("volume " + std::to_string(volume));
    return hasVolume;
  }
  void Quit() override { actions.push_back("quit"); }

  std::vector<std::string> Take() {
    std::vector<std::string> taken;
    taken.swap(actions);
    return taken;
  }
};
