#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/hud.h"
#include "app/ship.h"
#include "platform/font_fixture.h"
#include "support/game_state.h"

namespace {

constexpr int W = 1280, H = 720;  // unit 36 pixels
constexpr double PI = 3.141592653589793;

struct Text { std::string text; double x; uint32_t colour; };
struct Recorder { std::vector<Text> texts; std::vector<HudRing> rings; };

const HudSink recorder_sink = {
    nullptr,
    [](void* u, const char* t, double x, double, double, uint32_t c) {
        static_cast<Recorder*>(u)->texts.push_back(Text{t, x, c});
    },
    [](void*) {},
    [](void* u, const HudRing& r) { static_cast<Recorder*>(u)->rings.push_back(r); },
    [](void*) {},
};

class Hud : public WorldTest<FontState> {
protected:
    void SetUp() override {
        WorldTest::SetUp();
        fake_font("normal");
        ship = ship_create(0, 0, 0, world);
        clear_keys();
    }
    void TearDown() override {
        WorldTest::TearDown();
        clear_keys();
    }
    Recorder compose() {
        Recorder r;
        HudSink sink = recorder_sink;
        sink.user = &r;
        hud_compose(ship, W, H, sink);
        return r;
    }
    // The texts drawn in the given colour.
    static std::vector<std::string> in(const Recorder& r, uint32_t colour) {
        std::vector<std::string> out;
        for (const Text& t : r.texts)
            if (t.colour == colour) out.push_back(t.text);
        return out;
    }
    Ship* ship = nullptr;
};

using Strings = std::vector<std::string>;

}  // namespace

TEST_F(Hud, TalliesGreyUntilEveryShotIsDecidedAndTheBestStreakOutlivesTheStreak) {
    key_state[KEY_CONTROL] = key_state['H'] = 0x80;  // Ctrl+H toggles once per plot
    compose();
    EXPECT_EQ(ship->show_tallies, 1);
    compose();  // the second eye of a stereo frame toggles it back
    EXPECT_EQ(ship->show_tallies, 0);
    ship->show_tallies = 1;
    clear_keys();
    EXPECT_EQ(in(compose(), 0x404040), Strings{"000"});
    ship->shots = 10;
    ship->hits = 7;
    ship->misses = 2;
    EXPECT_EQ(in(compose(), 0x404040), Strings{"700"});
    ship->misses = 3;  // the tenth bullet fizzled
    EXPECT_EQ(in(compose(), 0x4080c0), Strings{"700"});

    // The streak (0x80c040) and the best one (0x40c080): a streak of one is not shown.
    const struct { int32_t streak; Strings now, best; } steps[] = {
        {1, {}, {}}, {4, {"4"}, {"4"}}, {0, {}, {"4"}}};
    for (const auto& step : steps) {
        ship->streak = step.streak;
        const Recorder r = compose();
        EXPECT_EQ(in(r, 0x80c040), step.now) << step.streak;
        EXPECT_EQ(in(r, 0x40c080), step.best) << step.streak;
    }
}

TEST_F(Hud, HealthRingFadesInBelowFullHealthAndIsRedWhenLow) {
    ship->health = 99.5f;
    Recorder r = compose();
    ASSERT_EQ(r.rings.size(), 1u);
    EXPECT_EQ(r.rings[0].colour, hud_pack(0x00ff00, 64));
    EXPECT_EQ(in(r, 0x003f00), (Strings{"9", "9"}));  // the green dimmed to 64/256
    ship->health = 5.5f;
    r = compose();
    ASSERT_EQ(r.rings.size(), 1u);
    const HudRing& ring = r.rings[0];
    EXPECT_EQ(ring.colour, hud_pack(0xff0000, 128));
    EXPECT_NEAR(ring.end - ring.start, 2 * PI * 0.055, 1e-5);
    EXPECT_EQ(ring.end, 3.1415927f);
    EXPECT_TRUE(ring.outer == 27.0f && ring.cx == 27.0f && ring.cy == H - 27.0f);
    ASSERT_EQ(in(r, 0x7f0000), (Strings{"0", "5"}));  // the red dimmed to 128/256
    EXPECT_LT(r.texts[1].x, ring.cx);
    EXPECT_GT(r.texts[2].x, r.texts[1].x);
}

TEST_F(Hud, ChargeGaugeShowsTheSegmentChargingWholeChargesAndSixteens) {
    ship->charge = 0.01f;  // just after a shot
    Recorder r = compose();
    ASSERT_EQ(r.rings.size(), 8u);  // no whole charges: only the fraction ring
    EXPECT_EQ(r.rings[0].colour, hud_pack(0xffffff, 0x80));
    for (int i = 1; i < 8; i++) EXPECT_EQ(r.rings[i].colour, hud_pack(0x506040, 0x80)) << i;
    EXPECT_EQ(r.rings[0].cx, W - 27.0f);
    // Separated segments running clockwise from the bottom.
    EXPECT_NEAR(r.rings[0].end, PI - 2 * PI * 0.1 / 8, 1e-5);
    EXPECT_NEAR(r.rings[1].start, PI - 2 * PI * 1.9 / 8, 1e-5);

    ship->charge_max = 40.0f;
    ship->charge = 18.5f;  // 17 whole charges beyond the first: one sixteen and one more
    r = compose();
    ASSERT_EQ(r.rings.size(), 8u + 2u + 1u);
    EXPECT_EQ(r.rings[3].colour, hud_pack(0x80c040, 0x80));
    EXPECT_EQ(r.rings[4].colour, hud_pack(0xffffff, 0x80));  // half way: segment 4 charging
    EXPECT_EQ(r.rings[8].colour, hud_pack(0x4080c0, 0x80));
    EXPECT_EQ(r.rings[8].outer, 18.0f);
    EXPECT_EQ(r.rings[10].colour, hud_pack(0x4040c0, 0x80));
    EXPECT_NEAR(r.rings[10].outer, 0.3 * 36, 1e-5);
}
