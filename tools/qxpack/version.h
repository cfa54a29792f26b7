// qxpack's version: the project version with `git describe` of the source it
// was built from (cmake/version.cmake). Also the Debian package's version.
#pragma once

extern const char kQxpackVersion[];
