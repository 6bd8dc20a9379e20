// The declarations as an ES module caller meets them: named exports and the default export.
import zul, {
  createClient, createdAtDate, ZulProcessError, codes, type SampleRow, type InspectRow, type Rows,
} from 'zul-process';

const client = createClient();
const rows: Rows<SampleRow> = await client.sample(1);
const same: typeof createClient = zul.createClient;
const byPid: ReadonlyMap<number, SampleRow> = rows.byPid;
const inspected: Rows<InspectRow> = await client.inspect([1]);
const row = inspected.byPid.get(1);
const started: Date | null = row?.status === 'found' ? createdAtDate(row.createdAt) : null;
void byPid, started;
try {
  await client.inspect(['1']);
} catch (error) {
  if (error instanceof ZulProcessError && error.code === codes.REFUSED) void error.message;
}
// @ts-expect-error: a client has no other commands
client.kill();
export { rows, same };
