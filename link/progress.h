#pragma once
// What a link operation may do with its window's progress bar, without
// knowing the window. Windows pass an adapter; tests pass nothing.
namespace zuna {

class Progress {
public:
    virtual ~Progress() = default;
    virtual void start(int maximum) = 0; // show at 0
    virtual void step() = 0;             // one step further, repainted at once
    virtual void finish() = 0;           // hide
};

} // namespace zuna
