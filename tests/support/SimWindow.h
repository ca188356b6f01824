// A test that drives the main window against a relay simulator of its own:
// the simulator's requests logged in a temporary folder, the simulator's
// line mapped as COM1, message boxes caught, the port closed at the end.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include "support/RelaySim.h"
#include "support/WindowDriver.h"

struct SimWindowTest : ::testing::Test {
    QTemporaryDir dir;
    QString logPath = dir.filePath(QStringLiteral("sim.log"));
    std::unique_ptr<RelaySim> sim;
    std::unique_ptr<PortEnv> env;
    MessageCatcher boxes;
    TForm1 form;
    WindowDriver ui{form};

    // Starts the simulator with `args`, shows the window and opens its port.
    void StartSim(const std::vector<std::string>& args)
    {
        sim = std::make_unique<RelaySim>(args);
        env = std::make_unique<PortEnv>(1, sim->path());
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(ui.Open());
    }
    void TearDown() override
    {
        if (form.ComPort()->Connected())
            ui.Close();
    }
};
