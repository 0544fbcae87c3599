// The collision benchmark's scene as a plain program, for valgrind's cachegrind,
// which counts instructions and cache misses where the machine offers no
// hardware counters:
//
//   zibu_collide_frames N slow|fast FRAMES [order]
//
// Three frames to warm up (the pool and the lists reach their size), then
// FRAMES frames, each moving the spheres and running the pass.
// bench/collide_cachegrind.sh takes the counts of two runs with different
// FRAMES apart, so that the setup cancels. With `order` the program also prints
// a hash of every collide call (visitor and other by creation number): two
// builds that print the same hash made the same calls in the same order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "collide_scene.h"

namespace {

std::unordered_map<const VNode*, uint64_t> numbers;  // filled only for `order`
uint64_t calls = 0;
uint64_t order_hash = 0xCBF29CE484222325ull;

void ball_collide(VNode* node, VNode* other) {
    calls++;
    if (numbers.empty()) return;
    for (const VNode* n : {node, other}) order_hash = (order_hash ^ numbers[n]) * 0x100000001B3ull;  // FNV-1a
}

const ThingType ball_type = {"Ball", sizeof(Thing), collide_scene::ball_advance, nullptr, ball_collide, nullptr};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || (std::strcmp(argv[2], "slow") != 0 && std::strcmp(argv[2], "fast") != 0)) {
        std::fprintf(stderr, "usage: zibu_collide_frames N slow|fast FRAMES [order]\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    const int frames = std::atoi(argv[3]);
    if (count < 2 || frames < 0) {
        std::fprintf(stderr, "N must be at least 2 and FRAMES not negative\n");
        return 2;
    }
    VNode* world = collide_scene::make_scene(count, std::strcmp(argv[2], "fast") == 0, &ball_type);
    if (argc > 4 && std::strcmp(argv[4], "order") == 0) {
        for (uint32_t i = 0; i < VNode_child_count(world); i++) numbers[VNode_child(world, i)] = i;
    }
    for (int i = 0; i < 3 + frames; i++) {
        collide_scene::next_frame(world);
        VNode_collide(world);
    }
    std::printf("%d %s frames=%d calls=%llu order=%016llx\n", count, argv[2], frames,
                static_cast<unsigned long long>(calls), static_cast<unsigned long long>(order_hash));
    VNode_destroy(world);
    return 0;
}
