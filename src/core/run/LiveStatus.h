// The live values of one slot during a run: written by the slot's engine,
// read by its window. Each engine derives its own from LiveStatus; the run
// owns one per slot, made by the engine's descriptor.
#pragma once

class LiveStatus {
public:
    virtual ~LiveStatus() = default;
};
