// The relay link's line over the serial port.
#pragma once

#include <algorithm>

#include "link/LinePort.h"
#include "serial/ComPort.h"

class SerialLine : public ILinePort {
public:
    explicit SerialLine(TComPort* port) : port_(port) {}
    bool IsOpen() const override { return port_->Connected(); }
    void WriteByte(uint8_t b) override { port_->Write(&b, 1); }
    bool ReadByte(uint8_t& b) override { return port_->Read(&b, 1) == 1; }
    int BytesWaiting() override { return port_->BytesWaiting(); }
    void WriteBytes(const uint8_t* bytes, int count) override { port_->Write(bytes, count); }
    int ReadBytes(uint8_t* bytes, int count) override { return std::max(port_->Read(bytes, count), 0); }
    void HoldRx(std::chrono::nanoseconds time) override { port_->HoldRxChar(time); }
    bool KeepsLineTime() const override { return keepsLineTime_; }
    // Set at each opening by the device's kind.
    void SetKeepsLineTime(bool keeps) { keepsLineTime_ = keeps; }

private:
    TComPort* port_;
    bool keepsLineTime_ = false;
};
