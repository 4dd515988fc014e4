# Quorvane's version, in one place: the top-level project, the host packer
# built on its own from tools/host, the installed package's version file and
# the release archives' names all take it from here.
set(QUORVANE_VERSION 1.0.0.1)
