# The fuzz targets' entry points, shared by the libFuzzer executables (fuzz/CMakeLists.txt) and the regression
# replay of the ordinary test build (tests/fuzz).
set(NEMOLA_FUZZ_TARGETS framer receiver decoders script toolkit kvsreader splitter blocks serverwire logengine setupcheck opening)
set(NEMOLA_FUZZ_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/FuzzSupport.cpp ${CMAKE_CURRENT_LIST_DIR}/FuzzSupport.h
  ${CMAKE_CURRENT_LIST_DIR}/FramerTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ReceiverTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DecoderTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ScriptTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ToolkitTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KvsReaderTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SplitterTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BlockTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ServerWireTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LogEngineTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SetupCheckTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OpeningTarget.cpp
)
set(NEMOLA_FUZZ_LIBS nemola_link nemola_app nemola_manual nemola_config nemola_rinex nemola_logging_core)
