// Pages of the setpoints and configuration exchange.
#pragma once

constexpr int kSetpointsPage = 1;       // "Уставки"
constexpr int kConfigurationPage = 2;   // "Настройки"
