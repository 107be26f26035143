#include <chrono>

#include "ui/korvane_app.h"

int main(int argc, char** argv) {
    const auto start =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
    return tarvex::ui::RunTarvex(argc, argv, start);
}
