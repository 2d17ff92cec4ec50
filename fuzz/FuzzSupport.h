#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <string>

// The fuzz targets' entry points: one input each; a failed oracle prints why and aborts, so that libFuzzer keeps
// the input as a crash. The libFuzzer mains (FuzzMain.cpp) and the regression replay of the ordinary test build
// call the same functions.
void FuzzFramer(const uint8_t* data, size_t size);
void FuzzReceiver(const uint8_t* data, size_t size);
void FuzzDecoders(const uint8_t* data, size_t size);
void FuzzScript(const uint8_t* data, size_t size);
void FuzzToolkit(const uint8_t* data, size_t size);
void FuzzKvsReader(const uint8_t* data, size_t size);
void FuzzSplitter(const uint8_t* data, size_t size);
void FuzzBlocks(const uint8_t* data, size_t size);
void FuzzServerWire(const uint8_t* data, size_t size);
void FuzzLogEngine(const uint8_t* data, size_t size);
void FuzzSetupCheck(const uint8_t* data, size_t size);
void FuzzOpening(const uint8_t* data, size_t size);

using FuzzEntry = void (*)(const uint8_t* data, size_t size);
// The entry point of a target named in fuzz/Targets.cmake, or null.
FuzzEntry FindFuzzTarget(const std::string& name);

// Creates the offscreen QApplication the link, the widgets and the timers need, unless one exists.
void EnsureFuzzApplication();

[[noreturn]] void FuzzFail(const char* target, const std::string& why);

// Reads an input as a recipe: bytes, small numbers and texts, zero once it is used up.
class CFuzzInput
{
public:
    CFuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_pos >= m_size; }
    uint8_t Byte() { return Empty() ? 0 : m_data[m_pos++]; }
    // 0 ... n-1.
    int Pick(int n) { return n <= 0 ? 0 : Byte() % n; }
    QByteArray Bytes(size_t n);
    // Up to `maxLength` bytes mapped into `alphabet`.
    QByteArray Text(int maxLength, const char* alphabet);
    // Everything not read yet.
    QByteArray Rest();

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};
