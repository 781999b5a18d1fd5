// Drives `mossbank mcp` with the official MCP TypeScript client and prints
// what the client made of every answer, as one JSON object on stdout.
//
//   node drive.mjs <mossbank binary> <protocol version | "latest"> <calls JSON>
//
// <calls JSON> is a list of {"name", "arguments"} tool calls. The client
// always offers its own newest protocol version; any other version named
// here is put in its initialize request instead, so each version the server
// speaks is negotiated for real. The server gets this process's environment.
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";

const [binary, version, callsText] = process.argv.slice(2);
const calls = JSON.parse(callsText ?? "[]");

const transport = new StdioClientTransport({
  command: binary,
  args: ["mcp"],
  env: { ...process.env },
  stderr: "pipe",
});
const report = { offered: null, initialize: null, calls: [] };

const send = transport.send.bind(transport);
transport.send = (message, options) => {
  if (message.method === "initialize") {
    if (version !== "latest") {
      message = { ...message, params: { ...message.params, protocolVersion: version } };
    }
    report.offered = message.params.protocolVersion;
  }
  return send(message, options);
};

// The raw initialize answer, as it arrived, before the client reads it.
let onmessage;
Object.defineProperty(transport, "onmessage", {
  get: () => onmessage,
  set: (handler) => {
    onmessage = (message, extra) => {
      if (report.initialize === null && message.id !== undefined && message.result?.protocolVersion) {
        report.initialize = message.result;
      }
      handler?.(message, extra);
    };
  },
});

const client = new Client({ name: "mossbank-tests", version: "1.0.0" });
try {
  await client.connect(transport);
  report.serverVersion = client.getServerVersion();
  report.capabilities = client.getServerCapabilities();
  report.instructions = client.getInstructions();
  report.ping = await client.ping();
  report.tools = (await client.listTools()).tools;
  for (const { name, arguments: args } of calls) {
    try {
      report.calls.push({ name, result: await client.callTool({ name, arguments: args }) });
    } catch (error) {
      report.calls.push({ name, error: { code: error.code ?? null, message: String(error.message) } });
    }
  }
} catch (error) {
  report.failure = String(error?.stack ?? error);
}
await client.close();
process.stdout.write(JSON.stringify(report));
