#include "agent/vt-agent.h"

int main(int argc, char** argv) { return AgentMain(argc, argv); }
