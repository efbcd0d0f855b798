# shellcheck shell=bash
# Sourced by the scripts, from the project's root: the version that the
# top-level CMakeLists.txt gives the project.
project_version() {
  sed -n 's/^project(MorvexFlashProgrammer VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt
}
