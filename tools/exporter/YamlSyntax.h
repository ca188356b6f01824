// Where a syntax error of a YAML file is. yaml-cpp names the place where it
// gave up; for a flow collection left open ("- {name: M1, address: 1"
// without its "}") that is the next entry or the end of the file, while the
// mistake is at the bracket that was never closed. That bracket is found
// here and named, beside the place yaml-cpp gave.
#pragma once

#include <yaml-cpp/exceptions.h>

#include <string>

struct YamlSyntaxFault {
    YAML::Mark mark;     // where to point (line and column from 0; null: nowhere)
    std::string what;
};

YamlSyntaxFault LocateYamlFault(const std::string& text, const YAML::Exception& error);
