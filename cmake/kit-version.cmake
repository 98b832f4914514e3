# The kit's version: the programs' version resources, the package's name and
# the checks of both take it from here.
set(KIT_VERSION_MAJOR 1)
set(KIT_VERSION_MINOR 5)
set(KIT_VERSION ${KIT_VERSION_MAJOR}.${KIT_VERSION_MINOR})
