// The declarations as an ES module caller meets them: named exports and the default export.
import zul, { createClient, ZulProcessError, codes, type SampleRow, type Rows } from 'zul-process';

const client = createClient();
const rows: Rows<SampleRow> = await client.sample(1);
const same: typeof createClient = zul.createClient;
try {
  await client.inspect(['1']);
} catch (error) {
  if (error instanceof ZulProcessError && error.code === codes.REFUSED) void error.message;
}
// @ts-expect-error: a client has no other commands
client.kill();
export { rows, same };
