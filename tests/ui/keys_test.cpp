#include <cstdint>
#include <initializer_list>
#include <vector>

#include "tests/ui/ui_checks.h"

namespace {

using namespace uitest;

// The six settings in one comparable value, minCount first.
struct Settings {
    uint32_t minCount = 1;
    uint32_t minDuration = 2400;
    int32_t plusTrigger = 49152;
    int32_t minusTrigger = 49152;
    uint32_t validDuration = 48000;
    uint32_t displayInterval = 100;

    bool operator==(const Settings&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Settings& s)
{
    return out << "{" << s.minCount << ", " << s.minDuration << ", " << s.plusTrigger << ", "
               << s.minusTrigger << ", " << s.validDuration << ", " << s.displayInterval << "}";
}

Settings Current()
{
    const MeasureSettings& s = toolState.settings;
    return Settings{s.minCount.load(),     s.minDuration.load(),   s.plusTrigger.load(),
                    s.minusTrigger.load(), s.validDuration.load(), s.displayInterval.load()};
}

// Sets all six from the test while the window thread is idle: starting points such as a
// display interval of 15, which the keys' steps never reach from the defaults.
void Store(const Settings& v)
{
    MeasureSettings& s = toolState.settings;
    s.minCount.store(v.minCount);
    s.minDuration.store(v.minDuration);
    s.plusTrigger.store(v.plusTrigger);
    s.minusTrigger.store(v.minusTrigger);
    s.validDuration.store(v.validDuration);
    s.displayInterval.store(v.displayInterval);
}

template <typename Field, typename Value> Settings Set(Field Settings::*field, Value value)
{
    Settings s;
    s.*field = static_cast<Field>(value);
    return s;
}

struct KeyCase {
    const char* what;
    Settings before;
    std::vector<unsigned> held;
    unsigned key;
    Settings after;
};

TEST(Keys, ArrowsStepTheSettingOfTheFirstHeldLetterWithinItsBounds)
{
    using S = Settings;
    const KeyCase cases[] = {
        {"A Up", S{}, {'A'}, VK_UP, Set(&S::minCount, 2)},
        {"A Right", S{}, {'A'}, VK_RIGHT, Set(&S::minCount, 11)},
        {"A Down at 1 stays 1", S{}, {'A'}, VK_DOWN, S{}},
        {"A Left at 5 gives 1", Set(&S::minCount, 5), {'A'}, VK_LEFT, S{}},
        {"A Left at 12", Set(&S::minCount, 12), {'A'}, VK_LEFT, Set(&S::minCount, 2)},
        {"A Right stops at the largest value",
         Set(&S::minCount, UINT32_MAX - 5),
         {'A'},
         VK_RIGHT,
         Set(&S::minCount, UINT32_MAX)},
        {"A Up at the largest value",
         Set(&S::minCount, UINT32_MAX),
         {'A'},
         VK_UP,
         Set(&S::minCount, UINT32_MAX)},
        {"A Down from the largest value",
         Set(&S::minCount, UINT32_MAX),
         {'A'},
         VK_DOWN,
         Set(&S::minCount, UINT32_MAX - 1)},

        {"S Up", S{}, {'S'}, VK_UP, Set(&S::minDuration, 2424)},
        {"S Down", S{}, {'S'}, VK_DOWN, Set(&S::minDuration, 2376)},
        {"S Right", S{}, {'S'}, VK_RIGHT, Set(&S::minDuration, 2640)},
        {"S Left", S{}, {'S'}, VK_LEFT, Set(&S::minDuration, 2160)},
        {"S Left at 100 gives 0",
         Set(&S::minDuration, 100),
         {'S'},
         VK_LEFT,
         Set(&S::minDuration, 0)},
        {"S Down at 0 stays 0", Set(&S::minDuration, 0), {'S'}, VK_DOWN, Set(&S::minDuration, 0)},
        {"S Up stops at the largest value",
         Set(&S::minDuration, UINT32_MAX - 1),
         {'S'},
         VK_UP,
         Set(&S::minDuration, UINT32_MAX)},

        {"D Up", S{}, {'D'}, VK_UP, Set(&S::plusTrigger, 49168)},
        {"D Down", S{}, {'D'}, VK_DOWN, Set(&S::plusTrigger, 49136)},
        {"D Right at 65400 gives 65536",
         Set(&S::plusTrigger, 65400),
         {'D'},
         VK_RIGHT,
         Set(&S::plusTrigger, 65536)},
        {"D Up at 65536 stays",
         Set(&S::plusTrigger, 65536),
         {'D'},
         VK_UP,
         Set(&S::plusTrigger, 65536)},
        {"D Down at 10 gives 0", Set(&S::plusTrigger, 10), {'D'}, VK_DOWN, Set(&S::plusTrigger, 0)},
        {"D Left at 0 stays 0", Set(&S::plusTrigger, 0), {'D'}, VK_LEFT, Set(&S::plusTrigger, 0)},

        {"F Right", S{}, {'F'}, VK_RIGHT, Set(&S::minusTrigger, 49408)},
        {"F Left", S{}, {'F'}, VK_LEFT, Set(&S::minusTrigger, 48896)},
        {"F Up at 65530 gives 65536",
         Set(&S::minusTrigger, 65530),
         {'F'},
         VK_UP,
         Set(&S::minusTrigger, 65536)},
        {"F Left at 255 gives 0",
         Set(&S::minusTrigger, 255),
         {'F'},
         VK_LEFT,
         Set(&S::minusTrigger, 0)},

        {"G Up", S{}, {'G'}, VK_UP, Set(&S::validDuration, 48240)},
        {"G Down", S{}, {'G'}, VK_DOWN, Set(&S::validDuration, 47760)},
        {"G Right", S{}, {'G'}, VK_RIGHT, Set(&S::validDuration, 50400)},
        {"G Left", S{}, {'G'}, VK_LEFT, Set(&S::validDuration, 45600)},
        {"G Left at 1000 gives 0",
         Set(&S::validDuration, 1000),
         {'G'},
         VK_LEFT,
         Set(&S::validDuration, 0)},

        {"H Up", S{}, {'H'}, VK_UP, Set(&S::displayInterval, 110)},
        {"H Right", S{}, {'H'}, VK_RIGHT, Set(&S::displayInterval, 200)},
        {"H Left at 100 gives 10", S{}, {'H'}, VK_LEFT, Set(&S::displayInterval, 10)},
        {"H Down at 15 gives 10",
         Set(&S::displayInterval, 15),
         {'H'},
         VK_DOWN,
         Set(&S::displayInterval, 10)},
        {"H Down at 10 stays 10",
         Set(&S::displayInterval, 10),
         {'H'},
         VK_DOWN,
         Set(&S::displayInterval, 10)},

        // The first held letter in the order A S D F G H wins, whatever order they went down in.
        {"D and S held: S", S{}, {'D', 'S'}, VK_UP, Set(&S::minDuration, 2424)},
        {"H and A held: A", S{}, {'H', 'A'}, VK_RIGHT, Set(&S::minCount, 11)},
        {"F and D held: D", S{}, {'F', 'D'}, VK_DOWN, Set(&S::plusTrigger, 49136)},
        {"H and G held: G", S{}, {'H', 'G'}, VK_LEFT, Set(&S::validDuration, 45600)},
        {"no letter held", S{}, {}, VK_UP, S{}},
        {"another letter held", S{}, {'J'}, VK_RIGHT, S{}},
    };
    apptest::App app;
    app.Start();
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.what);
        Store(c.before);
        for (unsigned letter : c.held) {
            app.KeyDown(letter);
        }
        app.Press(c.key);
        for (unsigned letter : c.held) {
            app.KeyUp(letter);
        }
        EXPECT_EQ(Current(), c.after);
    }
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(Keys, EveryAutoRepeatedKeyDownCounts)
{
    apptest::App app;
    app.Start();
    app.KeyDown('D');
    app.KeyDown(VK_RIGHT);
    for (int i = 0; i < 9; ++i) {
        app.KeyDown(VK_RIGHT, true);
    }
    EXPECT_EQ(toolState.settings.plusTrigger.load(), 49152 + 10 * 256);
    // 64 key-downs in all reach 65536; the rest of the hold stays there.
    for (int i = 0; i < 60; ++i) {
        app.KeyDown(VK_RIGHT, true);
    }
    EXPECT_EQ(toolState.settings.plusTrigger.load(), 65536);
    app.KeyUp(VK_RIGHT);
    app.KeyUp('D');
    EXPECT_EQ(Current(), Set(&Settings::plusTrigger, 65536));
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(Keys, ArrowsRepaintAtOnceEvenWithNoLetterHeld)
{
    apptest::App app;
    app.Start();
    for (unsigned arrow :
         {unsigned{VK_UP}, unsigned{VK_DOWN}, unsigned{VK_LEFT}, unsigned{VK_RIGHT}}) {
        const int presents = app.View().presents;
        app.Press(arrow);
        EXPECT_EQ(app.View().presents, presents + 1) << "arrow " << arrow;
    }
    EXPECT_EQ(Current(), Settings{});
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(Keys, LettersAndUnhandledKeysDoNothing)
{
    apptest::App app;
    app.Start();
    const headless::WindowView before = app.View();
    const unsigned keys[] = {'A',
                             'S',
                             'D',
                             'F',
                             'G',
                             'H',
                             'Z',
                             '0',
                             '5',
                             VK_NUMPAD0 + 1,
                             VK_NUMPAD0 + 2,
                             VK_NUMPAD0 + 4,
                             VK_SPACE,
                             VK_RETURN,
                             VK_ESCAPE,
                             VK_F1};
    for (unsigned key : keys) {
        app.Press(key);
    }
    const headless::WindowView after = app.View();
    EXPECT_EQ(Current(), Settings{});
    EXPECT_EQ(toolState.view.zoom, 1);
    EXPECT_EQ(toolState.view.showSettings, 0);
    EXPECT_EQ(after.clientWidth, 200);
    EXPECT_EQ(after.clientHeight, 300);
    EXPECT_EQ(after.presents, before.presents);
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(Keys, DigitsSetTheZoomAndTheClientSizeKeepingTheCorner)
{
    struct DigitCase {
        unsigned key;
        int zoom;
        int width;
        int height;
    };
    const DigitCase cases[] = {
        {'2', 2, 400, 500}, {'4', 4, 800, 900}, {'3', 3, 600, 700},
        {'1', 1, 200, 300}, {'4', 4, 800, 900}, {'1', 1, 200, 300},
    };
    apptest::App app;
    // A frame of the system's own, so that outer and client sizes differ.
    app.SetFrame(7, 23);
    app.Start();
    const headless::WindowView start = app.View();
    for (const DigitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "key " << static_cast<char>(c.key));
        app.Press(c.key);
        const headless::WindowView view = app.View();
        EXPECT_EQ(toolState.view.zoom, c.zoom);
        EXPECT_EQ(view.clientWidth, c.width);
        EXPECT_EQ(view.clientHeight, c.height);
        EXPECT_EQ(view.shownWidth, c.width);
        EXPECT_EQ(view.shownHeight, c.height);
        EXPECT_EQ(view.outer.left, start.outer.left);
        EXPECT_EQ(view.outer.top, start.outer.top);
        EXPECT_EQ(view.outer.right - view.outer.left, c.width + 14);
        EXPECT_EQ(view.outer.bottom - view.outer.top, c.height + 14 + 23);
    }
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

TEST(Keys, OneAtZoomOneMovesNothingAndRepaintsNothing)
{
    apptest::App app;
    app.Start();
    headless::ClearCallLog();
    const int presents = app.View().presents;
    app.Press('1');
    std::vector<std::string> log = headless::CallLog();
    EXPECT_EQ(apptest::CountCalls(log, "MoveWindow"), 0);
    EXPECT_EQ(apptest::CountCalls(log, "BeginPaint"), 0);
    EXPECT_EQ(app.View().presents, presents);

    // The same check sees the resize that 2 makes.
    app.Press('2');
    log = headless::CallLog();
    EXPECT_EQ(apptest::CountCalls(log, "MoveWindow"), 1);
    EXPECT_GE(apptest::CountCalls(log, "BeginPaint"), 1);
    EXPECT_EQ(app.CloseAndJoin(), 0);
}

} // namespace
