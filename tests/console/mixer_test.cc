// The mixers beside OSS: the ALSA simple mixer against a real sound server,
// the decoder's volume against its recorded answers, and the choice.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "console/decoder.h"
#include "console/mixer.h"
#include "fake_engine.h"
#include "fixture.h"
#include "posix/posix.h"
#include "sound_server.h"

namespace {

// What another program changes, and what a request that overran its bound
// leaves behind, reach the mixer a moment later: the value once it came.
int Settled(const std::function<int()>& read, int expected) {
  const uint64_t end = MonotonicMs() + 5000;
  int got = read();
  while (got != expected && MonotonicMs() < end) {
    SleepMs(20);
    got = read();
  }
  return got;
}

// A sound server as this process's default ALSA device. ALSA reads its
// configuration once per process unless told to forget it.
class SoundServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!e2e::SoundServer::Available()) GTEST_SKIP() << "pulseaudio and pactl are not installed";
    server_.UseHere();
    snd_config_update_free_global();
    ASSERT_TRUE(server_.Start()) << server_.Log();
  }
  e2e::SoundServer server_;
};

TEST_F(SoundServerTest, AlsaMixerFollowsTheSinkAndOutlivesAServerRestart) {
  AlsaMixer mixer;
  ASSERT_TRUE(mixer.Open());
  EXPECT_EQ(mixer.element(), "Master");
  EXPECT_EQ(mixer.GetVolume(), 100);
  EXPECT_EQ(mixer.SetVolume(40), 40);
  EXPECT_EQ(server_.SinkVolume(), 40);
  EXPECT_EQ(mixer.SetVolume(256 + 55), 55);  // the low 8 bits
  EXPECT_EQ(server_.SinkVolume(), 55);
  EXPECT_EQ(mixer.SetVolume(250), 100);
  EXPECT_EQ(server_.SinkVolume(), 100);

  // Changed by another program: seen once its event came.
  ASSERT_TRUE(server_.SetSinkVolume(65));
  const auto get = [&mixer] { return mixer.GetVolume(); };
  EXPECT_EQ(Settled(get, 65), 65);

  // Restarted between two keys: the request finds the old connection dead
  // and opens the mixer anew (the new server's sink starts at full volume).
  // On a loaded machine the opening may outlast one request's bound.
  server_.Stop();
  ASSERT_TRUE(server_.Start()) << server_.Log();
  EXPECT_EQ(Settled(get, 100), 100);
  server_.Stop();
  ASSERT_TRUE(server_.Start()) << server_.Log();
  EXPECT_EQ(Settled([&mixer] { return mixer.SetVolume(30); }, 30), 30);
  EXPECT_EQ(server_.SinkVolume(), 30);

  // Away: the mixer cannot be used, until the server is back.
  server_.Stop();
  EXPECT_EQ(mixer.GetVolume(), 255);
  EXPECT_EQ(mixer.SetVolume(30), -1);
  ASSERT_TRUE(server_.Start()) << server_.Log();
  EXPECT_EQ(Settled([&mixer] { return mixer.SetVolume(20); }, 20), 20);
  EXPECT_EQ(server_.SinkVolume(), 20);
}

// A server that stops answering hangs the requests made to it: the caller
// sees no mixer instead, and is told once when that begins and once when it
// ends.
TEST_F(SoundServerTest, AlsaMixerOfAStoppedServerIsAbsentUntilItAnswersAgain) {
  TraceCapture trace;
  AlsaMixer mixer;
  ASSERT_TRUE(mixer.Open());
  server_.Pause();
  EXPECT_EQ(mixer.SetVolume(40), -1);
  EXPECT_EQ(mixer.GetVolume(), 255);  // the set still hangs: not even tried
  EXPECT_EQ(mixer.SetVolume(30), -1);
  AlsaMixer late;  // opened while the server is stopped: none
  EXPECT_FALSE(late.Open());
  server_.Resume();
  EXPECT_EQ(Settled([&mixer] { return mixer.SetVolume(20); }, 20), 20);
  EXPECT_EQ(server_.SinkVolume(), 20);
  EXPECT_EQ(Settled([&late] { return late.Open() ? 1 : 0; }, 1), 1);
  EXPECT_EQ(trace.text,
            "Mixer not answering: ALSA default Master\n"
            "Mixer not answering: ALSA default\n"
            "Mixer answering again: ALSA default Master\n"
            "Mixer answering again: ALSA default\n");
}

TEST_F(SoundServerTest, OssFirstThenAlsaThenTheDecoder) {
  FakeEngine send;
  const std::string noOss = server_.folder() + "/no-mixer";

  char oss[] = "/tmp/norvelo-oss.XXXXXX";
  const int fd = mkstemp(oss);
  ASSERT_GE(fd, 0);
  close(fd);
  ChosenMixer chosen = ChooseMixer(send, oss);
  unlink(oss);
  EXPECT_EQ(chosen.name, std::string("OSS ") + oss);
  EXPECT_EQ(chosen.engine, nullptr);

  chosen = ChooseMixer(send, noOss);
  EXPECT_EQ(chosen.name, "ALSA default Master");
  ASSERT_NE(chosen.mixer, nullptr);
  EXPECT_EQ(chosen.mixer->SetVolume(45), 45);
  EXPECT_EQ(server_.SinkVolume(), 45);
  chosen.mixer.reset();

  // The default device leads to a server that is not there.
  server_.Stop();
  chosen = ChooseMixer(send, noOss);
  EXPECT_EQ(chosen.name, "decoder");
  ASSERT_NE(chosen.engine, nullptr);
  EXPECT_EQ(chosen.engine, chosen.mixer.get());
  chosen.mixer->SetVolume(35);
  EXPECT_EQ(send.Take(), std::vector<std::string>{"volume 35"});
  // An engine with a list of its own uses its own volume, whatever else there is.
  send.ownList = true;
  server_.Start();
  EXPECT_EQ(ChooseMixer(send, noOss).name, "fake");
}

TEST(EngineMixer, SetsTheEnginesVolumeAndTakesTheRecordedAnswers) {
  FakeEngine engine;
  EngineMixer mixer(engine);
  EXPECT_EQ(mixer.GetVolume(), 100);  // the decoder starts at full volume
  mixer.EngineReady();                // nothing set yet: nothing to set again
  EXPECT_EQ(mixer.SetVolume(45), 45);
  EXPECT_EQ(mixer.GetVolume(), 45);  // before the answer comes
  EXPECT_EQ(mixer.SetVolume(250), 100);
  mixer.EngineReady();  // a new decoder gets the volume set last
  EXPECT_EQ(engine.Take(), (std::vector<std::string>{"volume 45", "volume 100", "volume 100"}));
  engine.hasVolume = false;
  EXPECT_EQ(mixer.SetVolume(50), -1);
  EXPECT_EQ(mixer.GetVolume(), 100);

  std::ifstream file(NORVELO_TEST_DATA "/mpg123-1.31-volume-utf8.txt");
  ASSERT_TRUE(file.good());
  std::vector<int> volumes;
  size_t others = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.compare(0, 2, "< ") != 0) continue;
    const int volume = DecoderVolume(line.substr(2));
    if (volume >= 0)
      volumes.push_back(volume);
    else
      ++others;
  }
  // 40, 100, 0, then 150: the decoder amplifies, the player's range ends at 100.
  EXPECT_EQ(volumes, (std::vector<int>{40, 100, 0, 100}));
  EXPECT_EQ(others, 11u);  // "@E Unknown command ... VOLUME" and the rest are not answers
  EXPECT_EQ(DecoderVolume("@V 33.500000%"), 34);
  EXPECT_EQ(DecoderVolume("@V"), -1);
  EXPECT_EQ(DecoderVolume("@V x%"), -1);
}

}  // namespace
